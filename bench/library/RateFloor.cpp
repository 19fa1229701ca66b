// The floor of a rating in a process of its own: read the album data file, find the photo's
// entry, write the whole file back atomically (a new file beside it, flushed, renamed over the
// old one, the folder flushed). Plain POSIX and nothing else, so its start costs what any
// program's does. Exits 0 when written, 1 with a line on standard error otherwise.
//
// Usage: RateFloor FILE KEY
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int fail(const char* what, const std::string& path)
{
    std::fprintf(stderr, "RateFloor: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    return 1;
}

bool writeAll(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: RateFloor FILE KEY\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string needle = std::string("<key>") + argv[2] + "</key>";
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0)
        return fail("cannot open", path);
    const size_t size = size_t(status.st_size);
    char* bytes = static_cast<char*>(std::malloc(size + 1));
    for (size_t got = 0; got < size;) {
        const ssize_t n = ::read(in, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot read", path);
        got += size_t(n);
    }
    ::close(in);
    if (!memmem(bytes, size, needle.data(), needle.size())) {
        std::fprintf(stderr, "RateFloor: no %s in %s\n", needle.c_str(), path.c_str());
        return 1;
    }
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    std::string temporary = folder + ".RateFloor-XXXXXX";
    const int out = ::mkstemp(temporary.data());
    if (out < 0)
        return fail("cannot create a file beside", path);
    if (!writeAll(out, bytes, size) || ::fsync(out) != 0 || ::close(out) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return fail("cannot write", path);
    }
    const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0 || ::fsync(directory) != 0)
        return fail("cannot flush the folder of", path);
    ::close(directory);
    std::free(bytes);
    return 0;
}
