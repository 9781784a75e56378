// Every caption, label, choice and status text of the windows fits the room it is
// shown in, measured with the fonts this machine really has. The windows' fixed
// places are drawn for a narrow face; without it texts run into their neighbours or
// are cut with "...".
#include "windows/frmAbout.h"
#include "windows/frmOptions.h"
#include "support/MainWindowFixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <initializer_list>

namespace {

class TextsFit : public MainWindowFixture {};

QString where(const QWidget* w, const QString& text)
{
    return w->window()->metaObject()->className() + QStringLiteral("/") + w->objectName() + QStringLiteral(" \"") +
           text + QStringLiteral("\"");
}

int textWidth(const QWidget* w, const QString& text)
{
    return w->fontMetrics().horizontalAdvance(text);
}

// A label sized to its text must end before any widget to its right on the same
// line, and within its parent; a label of fixed size must hold its text.
void checkLabel(const QLabel* label, QStringList& overflows)
{
    const QRect g = label->geometry();
    if (label->wordWrap()) {
        if (label->heightForWidth(g.width()) > g.height())
            overflows << where(label, label->text()) + QStringLiteral(": needs more lines than it has");
        return;
    }
    const int needed = label->sizeHint().width();
    int room = std::min(g.width(), label->parentWidget()->width() - g.x());
    for (const QWidget* sibling : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect s = sibling->geometry();
        if (sibling != label && !sibling->isHidden() && s.x() > g.x() && s.top() < g.bottom() && s.bottom() > g.top())
            room = std::min(room, s.x() - g.x());
    }
    if (needed > room)
        overflows << where(label, label->text()) + QStringLiteral(": needs %1 px, has %2").arg(needed).arg(room);
}

void checkButton(QAbstractButton* button, QStringList& overflows)
{
    int needed = 0;
    int room = 0;
    if (qobject_cast<QPushButton*>(button)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        needed = textWidth(button, button->text());
    } else {  // check box, radio button: indicator, spacing and text
        needed = button->sizeHint().width();
        room = button->width();
    }
    if (needed > room)
        overflows << where(button, button->text()) + QStringLiteral(": needs %1 px, has %2").arg(needed).arg(room);
}

void checkGroupBox(QGroupBox* box, QStringList& overflows)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    if (title.right() >= box->width())
        overflows << where(box, box->title()) + QStringLiteral(": the title ends at %1 px of %2").arg(title.right()).arg(box->width());
}

void checkComboBox(QComboBox* box, QStringList& overflows)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    option.subControls = QStyle::SC_All;
    const int room = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
    for (int i = 0; i < box->count(); ++i)
        if (textWidth(box, box->itemText(i)) > room)
            overflows << where(box, box->itemText(i)) +
                             QStringLiteral(": needs %1 px, has %2").arg(textWidth(box, box->itemText(i))).arg(room);
}

// Every text of a window that does not fit, one line each.
QStringList overflowsOf(QWidget* window)
{
    QStringList overflows;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->isHidden())
            continue;  // never seen as it is (the window shows it first when it does)
        if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull())
            checkLabel(label, overflows);
        else if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty())
            checkButton(button, overflows);
        else if (auto* box = qobject_cast<QGroupBox*>(w))
            checkGroupBox(box, overflows);
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            checkComboBox(combo, overflows);
    }
    return overflows;
}

TEST_F(TextsFit, TheWindowsGetTheNarrowFaceTheyAskFor)
{
    // The places are drawn for it; a wider substitute is what cut the status texts.
    frmOptions options(fake.platform, window->titleText());
    frmAbout about;
    for (QWidget* w : std::initializer_list<QWidget*>{window.get(), &options, &about}) {
        SCOPED_TRACE(w->metaObject()->className());
        const QFontInfo resolved(w->font());
        EXPECT_TRUE(resolved.exactMatch()) << "the face resolved to " << resolved.family().toStdString() << " "
                                           << resolved.styleName().toStdString() << " (fonts-dejavu-extra missing?)";
        EXPECT_TRUE(resolved.family().startsWith("DejaVu Sans")) << resolved.family().toStdString();
        EXPECT_TRUE((resolved.family() + " " + resolved.styleName()).contains("Condensed"))
            << resolved.family().toStdString() << " " << resolved.styleName().toStdString();
    }
}

TEST_F(TextsFit, EveryCaptionOfTheMainWindowAndItsEditorFits)
{
    window->Form_Load();
    trigger("mnuCreate");  // the editor as the user opens it, its port list filled
    ASSERT_TRUE(editorShown());
    ASSERT_GT(choice("cmbComPort")->count(), 0);
    EXPECT_EQ(overflowsOf(window.get()), QStringList());
}

TEST_F(TextsFit, EveryTextOfTheOptionsDialogAndTheAboutBoxFits)
{
    frmOptions options(fake.platform, window->titleText());
    options.Form_Load();
    EXPECT_EQ(overflowsOf(&options), QStringList());
    frmAbout about;
    about.Form_Load();
    EXPECT_EQ(overflowsOf(&about), QStringList());
}

TEST_F(TextsFit, EveryHeaderAndStatusTextFitsItsColumn)
{
    // One row in each state, with the widest values the columns carry.
    vsp.addDevice("Connector", "255;0");
    vsp.addDevice("Connector", "254;0");
    vsp.addDevice("TcpClient", "192.168.100.100;65535;254;921600,4,8,2,1,0;1;0;", 0, 0);
    vsp.addDevice("Connector", "253;0");
    vsp.addDevice("TcpClient", "192.168.100.101;65534;253;921600,4,8,2,1,0;1;0;", 1, 0);
    vsp.addDevice("Connector", "252;0");
    vsp.addDevice("TcpClient", "192.168.100.102;65533;252;921600,4,8,2,1,0;1;0;", 1, 1);
    window->ScanAvailPairs();
    ASSERT_EQ(rows().size(), 4);
    QStringList statuses;
    for (const QString& row : rows())
        statuses << row.section('|', 4);
    ASSERT_EQ(statuses, (QStringList{"Initializing", "Emulation is OFF", "Ready", "OK"}));

    const QTreeView* list = this->list();
    const int itemMargins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int headerMargins = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list->header());
    for (int c = 0; c < listRows::columnCount(list); ++c) {
        const QString header = listRows::headerText(list, c);
        EXPECT_LE(list->header()->fontMetrics().horizontalAdvance(header) + headerMargins, list->columnWidth(c))
            << header.toStdString();
        for (int r = 0; r < listRows::rowCount(list); ++r) {
            const QString text = listRows::rowText(list, r, c);
            EXPECT_LE(textWidth(list, text) + itemMargins, list->columnWidth(c)) << text.toStdString();
        }
    }
}

}  // namespace
