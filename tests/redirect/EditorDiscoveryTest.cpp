// The editor's Host Address box offers the ports ser2net advertises through a real
// Avahi (tests/discovery/support/scene.sh), only while the editor shows.
#include "redirect/AdapterOffers.h"
#include "redirect/RedirectEditor.h"
#include "support/EditorFixture.h"
#include "discovery/support/DiscoveryScene.h"

#include <QCheckBox>
#include <QMenu>
#include <QTest>

namespace {

class EditorDiscovery : public EditorFixture {};

QStringList entries(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* entry : menu->actions())
        texts << entry->text();
    return texts;
}

TEST_F(EditorDiscovery, OffersTheAdvertisedPortsWhileShownAndFillsHostAndPortFromOne)
{
    START_DISCOVERY_SCENE(scene, qEnvironmentVariable("QVCP_TEST_SYSTEM_BUS").toStdString());
    AdapterOffers* offers = part<RedirectEditor>("fraNewRedirect")->adapterOffers;
    QAction* button = part<QAction>("actAdapterOffers");
    QMenu* menu = part<QMenu>("mnuAdapterOffers");
    EXPECT_FALSE(offers->browsing());
    EXPECT_FALSE(button->isVisible());

    trigger("mnuCreate");
    EXPECT_TRUE(offers->browsing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu->actions().size() == 3; }, 15000))
        << entries(menu).join('\n').toStdString();
    EXPECT_EQ(entries(menu), QStringList({
                                 "lab bench \u2014 qvcp-box.local:3001",
                                 "secure line \u2014 qvcp-box.local:3003 (TLS)",
                                 "usb probe \u2014 qvcp-box.local:3002 (serialusb 0403:6001 FT232R USB UART "
                                 "s/n A10K3XYZ)",
                             }));
    EXPECT_TRUE(button->isVisible());
    button->trigger();
    ASSERT_EQ(menu->actions().size(), 3);
    // The TLS box follows what the port's adapter speaks; a ".local" name goes in
    // where the system resolves such names, else the address.
    auto* tls = part<QCheckBox>("chkTls");
    const struct {
        int entry;
        bool multicastNames;
        const char *host, *port;
        bool tls;
    } choices[] = {{1, false, "192.0.2.1", "3003", true}, {2, true, "qvcp-box.local", "3002", false}};
    for (const auto& c : choices) {
        offers->assumeMulticastNames(c.multicastNames);
        menu->actions()[c.entry]->trigger();
        EXPECT_EQ(box("txtHostAddress")->text(), c.host);
        EXPECT_EQ(box("txtHostPort")->text(), c.port);
        EXPECT_EQ(tls->isChecked(), c.tls) << c.port;
    }
    menu->hide();

    click("cmdNewRedirect(1)");  // Cancel: the editor goes, and its browsing with it
    EXPECT_FALSE(offers->browsing());
    EXPECT_FALSE(button->isVisible());
    EXPECT_TRUE(menu->actions().isEmpty());
}

}  // namespace
