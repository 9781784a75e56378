#include "deviceapi/modVSP_APIs.h"

#include "app/NumericText.h"
#include "deviceapi/VspBinding.h"
#include "vspdevices.h"

#include <QByteArray>
#include <algorithm>

namespace modVSP_APIs {
namespace {

// Calls the entry point of the same name as the library declares it.
#define VSP_CALL(name, ...) VspBinding::instance().entry<decltype(::name)>(#name)(__VA_ARGS__)

// A buffer of `length` blanks and a NUL after them, for the library to write into.
QByteArray blankBuffer(int length)
{
    QByteArray buffer(length + 1, ' ');
    buffer[length] = '\0';
    return buffer;
}

QString fromBuffer(const QByteArray& buffer)
{
    return QString::fromUtf8(buffer.constData(), buffer.size() - 1);
}

}  // namespace

std::int16_t vsp_getVersionInformation(QString& versionBuffer)
{
    QByteArray buffer = blankBuffer(versionBufferLength);
    const int result = VSP_CALL(vsp_getVersionInformation, buffer.data());
    versionBuffer = fromBuffer(buffer);
    return flag16(result);
}

std::int16_t vsp_initialize() { return flag16(VSP_CALL(vsp_initialize)); }
std::int16_t vsp_destroyAllDevices() { return flag16(VSP_CALL(vsp_destroyAllDevices)); }

std::int32_t vsp_createDevice(const QString& type, const QString& init)
{
    return VSP_CALL(vsp_createDevice, type.toUtf8().constData(), init.toUtf8().constData());
}

std::int16_t vsp_destroyDevice(std::int32_t id) { return flag16(VSP_CALL(vsp_destroyDevice, id)); }
std::int16_t vsp_reinitializeDevice(std::int32_t id) { return flag16(VSP_CALL(vsp_reinitializeDevice, id)); }
std::int32_t vsp_getDevicesCount() { return VSP_CALL(vsp_getDevicesCount); }
std::int32_t vsp_getDeviceIdByIdx(std::int32_t index) { return VSP_CALL(vsp_getDeviceIdByIdx, index); }

std::int16_t vsp_getDeviceInfo(std::int32_t id, QString& typeBuffer, QString& initBuffer, std::int32_t& ready,
                               std::int32_t& ok)
{
    QByteArray type = blankBuffer(typeBufferLength);
    QByteArray init = blankBuffer(initBufferLength);
    int readyOut = ready;
    int okOut = ok;
    const int result = VSP_CALL(vsp_getDeviceInfo, id, type.data(), init.data(), &readyOut, &okOut);
    typeBuffer = fromBuffer(type);
    initBuffer = fromBuffer(init);
    ready = readyOut;
    ok = okOut;
    return flag16(result);
}

std::int16_t vsp_getDeviceInfoEx(std::int32_t id, QString& typeBuffer, QString& initBuffer, std::int32_t& ready,
                                 std::int32_t& ok)
{
    auto* sized = VspBinding::instance().optionalEntry<decltype(::vsp_getDeviceInfoEx)>("vsp_getDeviceInfoEx");
    if (!sized)
        return vsp_getDeviceInfo(id, typeBuffer, initBuffer, ready, ok);
    int length = wholeInitBufferLength;
    for (;;) {
        QByteArray type = blankBuffer(typeBufferLength);
        QByteArray init = blankBuffer(length);
        int readyOut = ready;
        int okOut = ok;
        const int needed = sized(id, type.data(), static_cast<int>(type.size()), init.data(),
                                 static_cast<int>(init.size()), &readyOut, &okOut);
        // A longer string than the buffer holds: once more with the size it needs.
        if (needed > init.size() && length < maxInitBufferLength) {
            length = std::min(needed - 1, maxInitBufferLength);
            continue;
        }
        typeBuffer = fromBuffer(type);
        initBuffer = fromBuffer(init);
        ready = readyOut;
        ok = okOut;
        return needed > 0 ? 1 : 0;
    }
}

std::int16_t vsp_startEmulation() { return flag16(VSP_CALL(vsp_startEmulation)); }
std::int16_t vsp_stopEmulation() { return flag16(VSP_CALL(vsp_stopEmulation)); }

std::int16_t vsp_loadConfiguration(const QString& path)
{
    return flag16(VSP_CALL(vsp_loadConfiguration, path.toUtf8().constData()));
}

std::int16_t vsp_loadConfiguration(const QString& path, QString& refusal)
{
    refusal.clear();
    auto* call = VspBinding::instance().optionalEntry<decltype(::vsp_loadConfigurationEx)>("vsp_loadConfigurationEx");
    if (!call)
        return vsp_loadConfiguration(path);
    char why[256] = {};
    const std::int16_t loaded = flag16(call(path.toUtf8().constData(), why, sizeof why));
    refusal = QString::fromUtf8(why);
    return loaded;
}

std::int16_t vsp_saveConfiguration(const QString& path)
{
    return flag16(VSP_CALL(vsp_saveConfiguration, path.toUtf8().constData()));
}

std::int16_t vsp_release() { return flag16(VSP_CALL(vsp_release)); }

std::int16_t vsp_getDeviceDiagnostics(std::int32_t id, ::vsp_diagnostics& out)
{
    // The whole record as this program knows it, TLS fields included; an older
    // library fills what it knows and says so in `size`, and the rest stays empty.
    out = vsp_diagnostics{};
    out.size = sizeof out;
    auto* call = VspBinding::instance().optionalEntry<decltype(::vsp_getDeviceDiagnostics)>("vsp_getDeviceDiagnostics");
    const std::int16_t found = call ? flag16(call(id, &out)) : 0;
    if (out.size < sizeof out) {  // fields the library did not reach hold nothing of its
        out.tls = 0;
        out.tlsVersion[0] = out.peerSubject[0] = out.peerFingerprint[0] = '\0';
    }
    return found;
}

std::int16_t vsp_setEventHandler(EventHandler handler, void* context)
{
    auto* call = VspBinding::instance().optionalEntry<decltype(::vsp_setEventHandler)>("vsp_setEventHandler");
    return call ? flag16(call(handler, context)) : 0;
}

QString cleanOutBuffer(const QString& buffer)
{
    qsizetype begin = 0;
    qsizetype end = buffer.size();
    while (begin < end && buffer[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && buffer[end - 1] == QLatin1Char(' '))
        --end;
    return buffer.mid(begin, end - begin).remove(QChar(0));
}

}  // namespace modVSP_APIs
