// Preloaded into orvelle-cli by the tests: every fsync of a folder but the first fails
// with EIO, fsync of anything else works. The first flush makes the backup name durable
// before the converted file takes the name; failing the later one leaves a conversion
// that is complete but whose folder was not flushed.
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>

extern "C" int fsync(int fd)
{
    struct stat st { };
    static int folderFlushes = 0;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && ++folderFlushes > 1) {
        errno = EIO;
        return -1;
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}
