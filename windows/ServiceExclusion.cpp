#include "windows/ServiceExclusion.h"

#include "app/platform/MessageBoxes.h"
#include "vspdevices_holder.h"

bool refuseWhileServiceRuns(MessageBoxes& messages, const std::string& portDirectory)
{
    const auto holder = vspdevices::portDirectoryHolder(portDirectory);
    if (!holder || holder->program != "quorlinvcp-service")
        return false;
    const QString text =
        QStringLiteral("QuorlinVCP's service (quorlinvcp-service, pid %1) is running redirects on the ports of %2.\n\n"
                       "Only one of them can run the ports at a time. Stop the service first "
                       "(systemctl --user stop 'quorlinvcp@*' when it runs as a user service), "
                       "then start QuorlinVCP again.")
            .arg(holder->pid)
            .arg(QString::fromStdString(portDirectory));
    messages.show({text, msgbox::Buttons::Ok, msgbox::Icon::Exclamation});
    return true;
}
