#pragma once

#include "platform/foundation/Preferences.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A fixture with a scratch folder for library files; it forgets the library it registered, so
// the next test starts without one. Header-only.
class LibraryFolderTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    void TearDown() override
    {
        Preferences::setValue("iPhotoRecentDatabases", nullptr, Preferences::libraryDomain);
    }

    QString path(const QString& name) const { return m_folder.filePath(name); }

    QTemporaryDir m_folder;
};
