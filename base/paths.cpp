#include "paths.h"

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
