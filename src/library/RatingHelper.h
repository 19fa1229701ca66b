#pragma once

#include <QString>
#include <chrono>
#include <string>

class HelperStop;

// One run of the RateItem helper script, which sets one photo's rating in the current library
// through the library tool ("zuzire-library rate ID STARS"). The script is a resource, so anyone
// can put another in its place through ZUZIRE_RESOURCE_DIR.
//
// Threads: any thread; run() blocks its caller (the album data's work queue) until the script
// has ended.
class RatingHelper {
public:
    static constexpr const char* scriptName = "RateItem";
    // Far beyond any honest write, even of a very large library on a slow disk; a script that
    // takes longer is stuck, and would otherwise keep the program from quitting for ever.
    static constexpr std::chrono::milliseconds defaultTimeLimit{60000};

    // The script's path among the resources; empty when there is no such file.
    static QString scriptPath();

    enum class Outcome {
        Written,  // exited with status 0
        Failed,   // did not start, exited otherwise, or died
        TimedOut, // still running after the time limit, and killed
        Stopped,  // stopped through its HelperStop, or not started as that had already stopped
    };

    // Runs `script` itself, no shell in between, with exactly two arguments: the photo's
    // identifier and the stars, both in decimal, as the leader of a process group of its own (so
    // a Ctrl+C at the terminal, which the program answers by finishing its writes, does not kill
    // the write under way). Its standard output goes to the program's standard error, because the
    // program's standard output answers automation commands. Written only when it exited with
    // status 0 within `timeLimit`. Otherwise the write counts as not done: a script still running
    // is killed with everything it started, and the failure is logged with the identifier, the
    // stars and what became of the script. `stop`, when given, can stop the script from another
    // thread.
    static Outcome run(const QString& script, unsigned long long itemID, unsigned rating,
                       std::chrono::milliseconds timeLimit = defaultTimeLimit, HelperStop* stop = nullptr);

    // A photo's identifier in the library from its item key: the key as a decimal number, 0 when
    // it is empty, not wholly digits, or too large ("12abc" must not rate photo 12).
    static unsigned long long itemIdentifier(const std::string& itemKey);

    // Where the library tool is, for the script: beside the program's executable, as installed
    // and in the build tree; empty when it is not there (the script then looks for itself).
    static QString libraryToolPath();
};
