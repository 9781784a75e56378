#include "support/FakeVsp.h"

#include "deviceapi/VspBinding.h"

#include <QStringList>
#include <dlfcn.h>
#include <stdexcept>
#include <string>

FakeVsp::FakeVsp(const char* file) : handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL))
{
    if (!handle_)
        throw std::runtime_error(std::string("cannot open test library: ") + ::dlerror());
    VspBinding::instance().setLibraryFile(QString::fromUtf8(file));
    reset();
}

FakeVsp::~FakeVsp()
{
    VspBinding::instance().setLibraryFile(QString::fromLatin1(VspBinding::defaultLibraryFile));
    ::dlclose(handle_);
}

template <class F>
F* FakeVsp::control(const char* name) const
{
    void* address = ::dlsym(handle_, name);
    if (!address)
        throw std::runtime_error(std::string("test library lacks ") + name);
    return reinterpret_cast<F*>(address);
}

void FakeVsp::reset() { control<decltype(fakevsp_reset)>("fakevsp_reset")(); }
void FakeVsp::setResult(const char* operation, int result)
{
    control<decltype(fakevsp_setResult)>("fakevsp_setResult")(operation, result);
}
void FakeVsp::refuseCreates(int count) { control<decltype(fakevsp_refuseCreates)>("fakevsp_refuseCreates")(count); }
void FakeVsp::refuseType(const char* type, int count)
{
    control<decltype(fakevsp_refuseType)>("fakevsp_refuseType")(type, count);
}
int FakeVsp::addDevice(const char* type, const char* init, int ready, int ok)
{
    return control<decltype(fakevsp_addDevice)>("fakevsp_addDevice")(type, init, ready, ok);
}
void FakeVsp::setFlags(int id, int ready, int ok)
{
    control<decltype(fakevsp_setFlags)>("fakevsp_setFlags")(id, ready, ok);
}
void FakeVsp::setDiagnostics(int id, const vsp_diagnostics& diagnostics)
{
    control<decltype(fakevsp_setDiagnostics)>("fakevsp_setDiagnostics")(id, &diagnostics);
}
void FakeVsp::setVersion(const char* text) { control<decltype(fakevsp_setVersion)>("fakevsp_setVersion")(text); }
QString FakeVsp::calls() const { return QString::fromUtf8(control<decltype(fakevsp_calls)>("fakevsp_calls")()); }
QString FakeVsp::lastCreated(const QString& type) const
{
    const QString prefix = "vsp_createDevice " + type + " ";
    QString last;
    for (const QString& call : calls().split('\n'))
        if (call.startsWith(prefix))
            last = call.mid(prefix.size());
    return last;
}
bool FakeVsp::emulationRunning() const
{
    return control<decltype(fakevsp_emulationRunning)>("fakevsp_emulationRunning")() != 0;
}
