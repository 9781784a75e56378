#include "deviceapi/VspBinding.h"

#include "app/InstallLayout.h"
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

void* VspBinding::lookUp(const char* name, bool required)
{
    if (const auto found = entries_.find(name); found != entries_.end() && (found->second || !required))
        return found->second;
    if (!handle_) {
        // A bare name is looked for in the program's library folder first, then on
        // the usual search path. Done here rather than left to the run path, which does not
        // apply when dlopen is wrapped (as under the address sanitizer).
        if (!libraryFile_.contains(QLatin1Char('/'))) {
            const QString own = installLayout().libraryDir + QLatin1Char('/') + libraryFile_;
            handle_ = ::dlopen(QFile::encodeName(own).constData(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!handle_)
            handle_ = ::dlopen(QFile::encodeName(libraryFile_).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            throw RuntimeError(ErrorCode::FileNotFound, libraryFile_);
    }
    void* address = ::dlsym(handle_, name);
    if (!address && !required) {
        entries_.emplace(name, nullptr);
        return nullptr;
    }
    if (!address) {
        throw RuntimeError(static_cast<int>(ErrorCode::EntryPointNotFound),
                           RuntimeError::catalogueText(ErrorCode::EntryPointNotFound) + QLatin1Char(' ') +
                               QString::fromLatin1(name) + QStringLiteral(" in ") + libraryFile_);
    }
    entries_[name] = address;
    return address;
}
