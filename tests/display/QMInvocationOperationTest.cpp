#include "display/QMInvocationOperation.h"

#include "display/QMInvocationOperationException.h"
#include "platform/foundation/OperationQueue.h"

#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace {
struct Photo {
    std::string name;
};

class Recorder {
public:
    std::shared_ptr<Photo> keep(std::shared_ptr<Photo> photo, int stars)
    {
        m_received = std::move(photo);
        m_stars = stars;
        return m_received;
    }
    double ratio(double width, double height) const { return width / height; }
    void noteRated(const std::shared_ptr<Photo>& photo) { m_received = photo; }

    std::shared_ptr<Photo> m_received;
    int m_stars = 0;
};

std::string failureName(const std::function<void()>& call)
{
    try {
        call();
    } catch (const QMInvocationOperationException& failure) {
        return failure.name();
    } catch (const InternalInconsistency& failure) {
        return failure.description();
    }
    return "nothing raised";
}
} // namespace

TEST(QMInvocationOperationTest, ArgumentsStayAliveUntilTheOperationIsReleased)
{
    OperationQueue queue(1);
    auto recorder = std::make_shared<Recorder>();
    std::promise<void> release;
    queue.addOperation(QMInvocationOperation::create([held = release.get_future().share()] { held.wait(); }));

    std::weak_ptr<Photo> watchedPhoto;
    const Photo* sentPhoto = nullptr;
    std::weak_ptr<QMInvocationOperation> watchedOperation;
    {
        auto photo = std::make_shared<Photo>(Photo{"IMG_0042.JPG"});
        watchedPhoto = photo;
        sentPhoto = photo.get();
        auto operation = QMInvocationOperation::create();
        operation->prepareWithTarget(recorder, &Recorder::keep, photo, 3);
        watchedOperation = operation;
        queue.addOperation(operation);
    }
    EXPECT_FALSE(watchedPhoto.expired());
    EXPECT_EQ(recorder->m_received, nullptr);

    release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_NE(recorder->m_received, nullptr);
    EXPECT_EQ(recorder->m_received.get(), sentPhoto);
    EXPECT_EQ(recorder->m_received->name, "IMG_0042.JPG");
    EXPECT_EQ(recorder->m_stars, 3);

    // The queue has dropped the finished operation, and with it the recorded call.
    recorder->m_received.reset();
    EXPECT_TRUE(watchedOperation.expired());
    EXPECT_TRUE(watchedPhoto.expired());
}

TEST(QMInvocationOperationTest, PreparedOnlyOnce)
{
    auto recorder = std::make_shared<Recorder>();
    auto first = std::make_shared<Photo>(Photo{"first"});
    auto operation = QMInvocationOperation::create();
    EXPECT_EQ(operation->invocation(), nullptr);
    operation->prepareWithTarget(recorder, &Recorder::noteRated, first);
    ASSERT_NE(operation->invocation(), nullptr);
    EXPECT_TRUE(operation->invocation()->returnsVoid());

    EXPECT_EQ(failureName([&] {
                  operation->prepareWithTarget(recorder, &Recorder::noteRated, std::make_shared<Photo>());
              }),
              "Operation must be prepared only once.");
    EXPECT_EQ(failureName([&] { operation->prepare([] { return 1; }); }),
              "Operation must be prepared only once.");

    operation->start();
    EXPECT_EQ(recorder->m_received, first);
}

TEST(QMInvocationOperationTest, ResultsOfAnObjectADoubleAndNothing)
{
    auto recorder = std::make_shared<Recorder>();
    auto photo = std::make_shared<Photo>(Photo{"landscape"});

    auto objectCall = QMInvocationOperation::create();
    objectCall->prepareWithTarget(recorder, &Recorder::keep, photo, 5);
    auto doubleCall = QMInvocationOperation::create();
    doubleCall->prepareWithTarget(recorder, &Recorder::ratio, 3.0, 2.0);
    auto voidCall = QMInvocationOperation::create([] {});

    OperationQueue queue;
    for (const auto& operation : {objectCall, doubleCall, voidCall})
        queue.addOperation(operation);
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_EQ(objectCall->result<std::shared_ptr<Photo>>(), photo);
    EXPECT_EQ(doubleCall->result().type(), typeid(double));
    EXPECT_EQ(doubleCall->invocation()->returnType(), typeid(double));
    EXPECT_DOUBLE_EQ(doubleCall->result<double>(), 1.5);
    EXPECT_THROW(doubleCall->result<int>(), std::bad_any_cast);
    EXPECT_EQ(failureName([&] { voidCall->result(); }), QMInvocationOperationException::voidResultName);
}

TEST(QMInvocationOperationTest, AFailureOfTheCallIsKeptAndRaisedAgain)
{
    auto operation =
        QMInvocationOperation::create([]() -> int { throw std::runtime_error("script missing"); });
    OperationQueue queue(1);
    queue.addOperation(operation);
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_TRUE(operation->isFinished());
    EXPECT_NE(operation->exception(), nullptr);
    try {
        operation->result();
        ADD_FAILURE() << "the kept failure was not raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "script missing");
    }

    // Started by hand, the failure also leaves main().
    auto direct = QMInvocationOperation::create([] { throw std::logic_error("bad"); });
    EXPECT_THROW(direct->start(), std::logic_error);
    EXPECT_TRUE(direct->isFinished());
    EXPECT_THROW(direct->result(), std::logic_error);
}

TEST(QMInvocationOperationTest, ACancelledOperationNeverRunsAndHasNoResult)
{
    OperationQueue queue(1);
    std::promise<void> release;
    queue.addOperation(QMInvocationOperation::create([held = release.get_future().share()] { held.wait(); }));

    bool ran = false;
    auto operation = QMInvocationOperation::create([&ran] {
        ran = true;
        return 42;
    });
    queue.addOperation(operation);
    operation->cancel();
    release.set_value();
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_FALSE(ran);
    EXPECT_EQ(failureName([&] { operation->result(); }), QMInvocationOperationException::cancelledName);

    auto neverQueued = QMInvocationOperation::create([] { return 1; });
    neverQueued->cancel();
    EXPECT_EQ(failureName([&] { neverQueued->result(); }), QMInvocationOperationException::cancelledName);
}

TEST(QMInvocationOperationTest, MisuseIsAProgrammingError)
{
    auto unprepared = QMInvocationOperation::create();
    EXPECT_EQ(failureName([&] { unprepared->start(); }),
              "Invocation must be prepared before operation is started");
    EXPECT_TRUE(unprepared->isFinished());

    auto notRun = QMInvocationOperation::create([] { return 1; });
    EXPECT_EQ(failureName([&] { notRun->result(); }), "Operation must be finished before its result is read");

    std::shared_ptr<Recorder> nobody;
    EXPECT_EQ(failureName([&] { notRun->prepareWithTarget(nobody, &Recorder::ratio, 1.0, 1.0); }),
              "Invalid parameter not satisfying: target != nil");
}
