// The dosdevices folder of a Wine prefix, where Wine finds each DOS device name as a
// link: com5 -> the Unix path of COM5. A link there is this program's when it points
// at the port's own path; anything else under the name belongs to someone else.
#pragma once

#include <QList>
#include <QString>

namespace winedos {

// The prefix Windows programs run in: $WINEPREFIX, else ~/.wine.
QString prefixLocation();
// Wine has made the prefix: its folder holds system.reg.
bool prefixExists(const QString& prefix);

QString linkPath(const QString& prefix, int com);  // <prefix>/dosdevices/com<N>

enum class Entry { Absent, Ours, Foreign };
Entry entry(const QString& prefix, int com, const QString& portPath);

// Points dosdevices/com<N> at the port; false when it cannot.
bool makeLink(const QString& prefix, int com, const QString& portPath);
// Removes dosdevices/com<N> only while it points at the port.
void removeLink(const QString& prefix, int com, const QString& portPath);

// The port numbers N with a link COM<N> in the folder (the running ports), ascending.
QList<int> portsIn(const QString& portDirectory);

// Port numbers Wine accepts in its port mapping.
inline constexpr int maxCom = 256;

}  // namespace winedos
