#include "paths.h"

#include "base/utf.h"

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string ChangeFileExt(const std::string& path, const std::string& newExtension) {
    const size_t nameStart = path.find_last_of("\\/:");
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart))
        return path + newExtension;
    return path.substr(0, dot) + newExtension;
}

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
#ifdef _WIN32
    const auto widePath = Utf16FromUtf8(path);
    const auto wideMode = Utf16FromUtf8(mode);
    if (!widePath || !wideMode)
        return nullptr;
    return ::_wfopen(reinterpret_cast<const wchar_t*>(widePath->c_str()),
                     reinterpret_cast<const wchar_t*>(wideMode->c_str()));
#else
    if (!IsUtf8(path))
        return nullptr;
    return std::fopen(path.c_str(), mode);
#endif
}
