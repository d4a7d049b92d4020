#include "platform/errors.h"

#include <cerrno>

namespace plat {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EPIPE: return ERROR_NO_DATA;
    case ECONNREFUSED: return ERROR_PIPE_BUSY;
    case ECONNRESET: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case EIO: return ERROR_WRITE_FAULT;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return ERROR_GEN_FAILURE;
  }
}

std::string ErrorText(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION: return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command.";
    case ERROR_INVALID_DATA: return "The data is invalid.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_READ_FAULT: return "The system cannot read from the specified device.";
    case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_HANDLE_EOF: return "Reached the end of the file.";
    case ERROR_NOT_SUPPORTED: return "The request is not supported.";
    case ERROR_BAD_NETPATH: return "The network path was not found.";
    case ERROR_NOT_SAME_DEVICE: return "The system cannot move the file to a different disk drive.";
    case ERROR_BAD_NET_NAME: return "The network name cannot be found.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BROKEN_PIPE: return "The pipe has been ended.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_SEM_TIMEOUT: return "The semaphore timeout period has expired.";
    case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_MOD_NOT_FOUND: return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND: return "The specified procedure could not be found.";
    case ERROR_DIR_NOT_EMPTY: return "The directory is not empty.";
    case ERROR_BAD_PATHNAME: return "The specified path is invalid.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_BAD_EXE_FORMAT: return "The program is not a valid application.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_PIPE_BUSY: return "All pipe instances are busy.";
    case ERROR_NO_DATA: return "The pipe is being closed.";
    case ERROR_PIPE_NOT_CONNECTED: return "No process is on the other end of the pipe.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_DIRECTORY: return "The directory name is invalid.";
    case ERROR_PIPE_CONNECTED: return "There is a process on other end of the pipe.";
    case ERROR_KEY_DELETED: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case ERROR_KEY_HAS_CHILDREN: return "Cannot create a symbolic link in a registry key that already has subkeys or values.";
    case ERROR_INVALID_SERVICE_CONTROL: return "The requested control is not valid for this service.";
    case ERROR_SERVICE_REQUEST_TIMEOUT:
      return "The service did not respond to the start or control request in a timely fashion.";
    case ERROR_SERVICE_ALREADY_RUNNING: return "An instance of the service is already running.";
    case ERROR_INVALID_SERVICE_ACCOUNT:
      return "The account name is invalid or does not exist, or the password is invalid for the account name specified.";
    case ERROR_SERVICE_DISABLED: return "The service cannot be started because it is disabled.";
    case ERROR_SERVICE_DOES_NOT_EXIST: return "The specified service does not exist as an installed service.";
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL: return "The service cannot accept control messages at this time.";
    case ERROR_SERVICE_NOT_ACTIVE: return "The service has not been started.";
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT: return "The service process could not connect to the service controller.";
    case ERROR_SERVICE_SPECIFIC_ERROR: return "The service has returned a service-specific error code.";
    case ERROR_SERVICE_EXISTS: return "The specified service already exists.";
    case ERROR_NO_SUCH_USER: return "The specified user does not exist.";
    case ERROR_MEMBER_NOT_IN_GROUP: return "The specified user account is not a member of the specified group account.";
    case ERROR_NONE_MAPPED: return "No mapping between account names and security IDs was done.";
    case ERROR_NO_SUCH_DOMAIN: return "The specified domain either does not exist or could not be contacted.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    default: return "Error " + std::to_string(error) + ".";
  }
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

}  // namespace plat
