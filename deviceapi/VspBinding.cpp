#include "deviceapi/VspBinding.h"

#include "app/RuntimeError.h"

#include <QFile>
#include <dlfcn.h>

VspBinding& VspBinding::instance()
{
    static VspBinding binding;
    return binding;
}

void VspBinding::setLibraryFile(const QString& file)
{
    unbind();
    libraryFile_ = file;
}

void VspBinding::unbind()
{
    entries_.clear();
    if (handle_)
        ::dlclose(handle_);
    handle_ = nullptr;
}

void* VspBinding::lookUp(const char* name)
{
    if (const auto found = entries_.find(name); found != entries_.end())
        return found->second;
    if (!handle_) {
        handle_ = ::dlopen(QFile::encodeName(libraryFile_).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            throw RuntimeError(ErrorCode::FileNotFound, libraryFile_);
    }
    void* address = ::dlsym(handle_, name);
    if (!address) {
        throw RuntimeError(static_cast<int>(ErrorCode::EntryPointNotFound),
                           RuntimeError::catalogueText(ErrorCode::EntryPointNotFound) + QLatin1Char(' ') +
                               QString::fromLatin1(name) + QStringLiteral(" in ") + libraryFile_);
    }
    entries_.emplace(name, address);
    return address;
}
