// Run-time binding to the device library: the library file is opened at the first
// call of any operation, each entry point looked up at its own first call. A missing
// library throws File not found (53), a missing entry point Can't find DLL entry
// point (453), into the calling procedure's trap.
#pragma once

#include "InstallPaths.h"

#include <QString>
#include <map>
#include <string>

class VspBinding {
public:
    static VspBinding& instance();

    // The library the program drives: "libvspdevices.so", found in the program's
    // library folder first (beside it, or lib/quorlinvcp in the system layout), then
    // on the usual search path. Tests name the test double's file here. Changing it
    // drops the current binding.
    static constexpr const char* defaultLibraryFile = QVCP_DEVICE_LIBRARY;
    void setLibraryFile(const QString& file);
    QString libraryFile() const { return libraryFile_; }

    // Forgets the opened library and every looked-up entry point.
    void unbind();

    template <class Function>
    Function* entry(const char* name)
    {
        return reinterpret_cast<Function*>(lookUp(name, true));
    }

    // An entry point that older libraries lack: null when absent (a missing library
    // still throws), so the caller can fall back on an older operation.
    template <class Function>
    Function* optionalEntry(const char* name)
    {
        return reinterpret_cast<Function*>(lookUp(name, false));
    }

private:
    VspBinding() = default;
    void* lookUp(const char* name, bool required);

    QString libraryFile_ = QString::fromLatin1(defaultLibraryFile);
    void* handle_ = nullptr;
    std::map<std::string, void*> entries_;
};
