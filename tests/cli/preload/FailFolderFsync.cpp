// Preloaded into orvelle-cli by the tests: fsync of a folder fails with EIO, fsync of
// anything else works, so that a conversion completes but cannot flush its folder.
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>

extern "C" int fsync(int fd)
{
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}
