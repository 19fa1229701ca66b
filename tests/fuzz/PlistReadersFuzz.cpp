// Runs the differential check of the XML property-list readers for as long as asked, over seeds
// the tests do not reach, and writes every file the readers disagree on to the current folder.
//
//   PlistReadersFuzz [seconds] [first seed]      (defaults: 60, 1000000)
//
// Exits 1 when any disagreement was found.
#include "PlistDifferential.h"

#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const uint64_t first = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    uint64_t seed = first;
    int found = 0;
    while (elapsed() < seconds) {
        const QByteArray bytes = PlistDifferential::caseFor(seed);
        const std::string problem = PlistDifferential::disagreement(bytes);
        if (!problem.empty()) {
            ++found;
            const QString name = QStringLiteral("disagreement-%1.xml").arg(seed);
            QFile file(name);
            if (file.open(QIODevice::WriteOnly))
                file.write(bytes);
            std::printf("seed %llu: %s (written to %s)\n", static_cast<unsigned long long>(seed),
                        problem.c_str(), qPrintable(name));
        }
        ++seed;
    }
    std::printf("%llu files in %.0f s, %d disagreements\n", static_cast<unsigned long long>(seed - first),
                elapsed(), found);
    return found == 0 ? 0 : 1;
}
