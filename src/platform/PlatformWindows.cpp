// Windows implementation of the platform layer: names in the system code
// page first, then UTF-8 through the wide-character open; temporary files in
// the directory GetTempPathA reports.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/Log.h"
#include "platform/Platform.h"

namespace vok::platform {

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

std::FILE* openForReadingUtf8(const char* path) {
    if (!isValidUtf8(path)) return nullptr;
    std::size_t length = std::strlen(path);
    // Zero-filled, with room to spare, so the wide name stays terminated.
    std::vector<wchar_t> wide(length + 10, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, static_cast<int>(length),
                                wide.data(), static_cast<int>(wide.size() - 1));
    if (n <= 0) return nullptr;
    return _wfopen(wide.data(), L"rb");
}

int seek(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET);
}

std::int64_t fileSize(std::FILE* file) {
    __int64 size = _filelengthi64(_fileno(file));
    return size < 0 ? -1 : static_cast<std::int64_t>(size);
}

std::FILE* createTempFile(const char* prefix, std::string& name) {
    char dir[2048];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > sizeof dir) {
        vok::log("GetTempPath failed (%d)\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    // GetTempFileNameA keeps only three characters of a prefix, so the
    // unique part is made here and the file created exclusively.
    static unsigned long counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char candidate[2048 + 64];
        std::snprintf(candidate, sizeof candidate, "%s%s%lu_%lu_%lu.tmp", dir, prefix,
                      static_cast<unsigned long>(GetCurrentProcessId()), ++counter,
                      static_cast<unsigned long>(GetTickCount()));
        HANDLE h = CreateFileA(candidate, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            DeleteFileA(candidate);
            return nullptr;
        }
        std::FILE* file = _fdopen(fd, "w+b");
        if (file == nullptr) {
            _close(fd);
            DeleteFileA(candidate);
            return nullptr;
        }
        name = candidate;
        return file;
    }
    return nullptr;
}

bool removeFile(const char* path) { return std::remove(path) == 0; }

}  // namespace vok::platform
