#include "base/recover_error.h"

#include <cerrno>

namespace tabrescue {

RecoverError ioError(int errnum, const std::string& path)
{
    const std::string quoted = ": '" + path + "'";
    switch (errnum) {
    case ENOENT:
        return {kErrFileNotFound, "File not found" + quoted};
    case ENOTDIR:
        return {kErrPathNotFound, "Path not found" + quoted};
    case EACCES:
    case EPERM:
    case EROFS:
        return {kErrPermission, "Permission denied" + quoted};
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
        return {kErrDiskFull, "Disk full" + quoted};
    case ENOMEM:
        return {kErrOutOfMemory, "Out of memory" + quoted};
    default:
        return {kErrPathAccess, "Path/File access error" + quoted};
    }
}

} // namespace tabrescue
