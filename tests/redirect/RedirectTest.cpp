// A redirect's settings, its devices' strings and the editor that shows and yields
// them: what the editor yields is what the strings carry and what is read back.
#include "redirect/InitStrings.h"
#include "redirect/RedirectEditor.h"
#include "support/FailedSteps.h"
#include "windows/LogSteps.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace redirect;

namespace {

Redirect lab()
{
    return {.comNumber = 12,
            .host = "adapter.lab.example",
            .port = 3002,
            .baud = 115200,
            .dtrRts = true,
            .dataBits = 7,
            .stopBits = 2,
            .parity = vspdevices::Parity::Mark,
            .readTimeout = 50.0};
}

QStringList fieldsOf(const Redirect& r)
{
    return {r.comNumber.text(), r.host,           r.port.text(),     r.baud.text(),       r.dtrRts.text(),
            r.dataBits.text(),  r.stopBits.text(), r.parity.text(), r.readTimeout.text()};
}

TEST(RedirectStrings, WhatIsBuiltReadsBackFieldForField)
{
    const Redirect r = lab();
    EXPECT_EQ(connectorInitOf(r), "12;0");
    EXPECT_EQ(tcpClientInitOf(r), "adapter.lab.example;3002;12;115200,1,7,2,3,50;1;0;");
    const Redirect back = redirectFromCombinedText(buildCombinedText(connectorInitOf(r), tcpClientInitOf(r)));
    EXPECT_EQ(fieldsOf(back), fieldsOf(r));
    EXPECT_EQ(back.missing, 0);
}

TEST(RedirectStrings, ATypedSeparatorShiftsTheLaterFieldsAndAShortTextLacksTheRest)
{
    // A ";" typed into the host address: the port is read from the host's second half.
    Redirect shifted = redirectFromCombinedText("5;0;host;x;3001;5;19200,0,8,1,0,0;1;0;");
    EXPECT_EQ(shifted.host, "host");
    EXPECT_EQ(shifted.port.text(), "x");
    EXPECT_EQ(shifted.baud.text(), "5");
    EXPECT_EQ(shifted.missing, Redirect::DtrRts | Redirect::DataBits | Redirect::StopBits | Redirect::Parity |
                                   Redirect::ReadTimeout);

    const Redirect cut = redirectFromCombinedText("5;0;host");
    EXPECT_EQ(cut.host, "host");
    EXPECT_NO_THROW(cut.need(Redirect::Host));
    for (Redirect::Field f : {Redirect::Port, Redirect::SerialGroup, Redirect::Baud, Redirect::ReadTimeout}) {
        try {
            cut.need(f);
            ADD_FAILURE() << "field " << f << " should be missing";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), 9);
        }
    }
}

TEST(RedirectStrings, TheCombinedTextComesApartAtItsThirdField)
{
    QString connector;
    QString client;
    ASSERT_TRUE(splitCombinedText("5;0;h;3001;5;9600,0,8,1,0,0;1;0;", connector, client));
    EXPECT_EQ(connector, "5;0");
    EXPECT_EQ(client, "h;3001;5;9600,0,8,1,0,0;1;0;");
    EXPECT_FALSE(splitCombinedText("5;0", connector, client));
}

class RedirectEditorTest : public ::testing::Test {
protected:
    RedirectEditorTest() { editor.fillChoices(); }
    RedirectEditor editor{nullptr};
    FailedSteps<EditorStep> failed;
};

TEST_F(RedirectEditorTest, YieldsTheRedirectItShowsAndItsStringsAreTheOnesItWasFilledFrom)
{
    const Redirect r = lab();
    editor.showRedirect(r, failed.sink());
    EXPECT_EQ(editor.cmbComPort->currentText(), "COM12");
    EXPECT_EQ(editor.cmbDTRRTS->currentText(), "yes");
    EXPECT_EQ(editor.cmbParity->currentText(), "mark");
    const Redirect yielded = editor.redirect();
    EXPECT_EQ(fieldsOf(yielded), fieldsOf(r));
    EXPECT_EQ(tcpClientInitOf(yielded), tcpClientInitOf(r));
    EXPECT_TRUE(failed.list.empty());
}

TEST_F(RedirectEditorTest, EachFieldThatIsMissingOrNoChoiceHoldsFailsItsOwnStep)
{
    using S = EditorStep;
    const struct {
        const char* combinedText;
        std::vector<EditorStep> failedSteps;
        int number;
    } cases[] = {
        {"5;0;h;3001;5;19200,0", {S::Parity, S::DataBits, S::StopBits, S::ReadTimeout}, 9},
        {"5;0;h;3001", {S::SerialGroup, S::Baud, S::DtrRts, S::Parity, S::DataBits, S::StopBits, S::ReadTimeout}, 9},
        {"5;0;h;3001;5;19200,0,8,1,7,0", {S::Parity}, 380},  // no seventh parity
        {"5;0;h;3001;5;19201,0,8,1,0,0", {S::Baud}, 383},    // no such speed
    };
    for (const auto& c : cases) {
        failed.list.clear();
        editor.showRedirect(redirectFromCombinedText(c.combinedText), failed.sink());
        EXPECT_EQ(failed.steps(), c.failedSteps) << c.combinedText;
        for (const auto& [step, failure] : failed.list)
            EXPECT_EQ(failure.number, c.number) << c.combinedText;
    }
    EXPECT_EQ(editor.txtHostAddress->text(), "h");  // the fields that were there still show
}

TEST_F(RedirectEditorTest, TheDefaultsAreThoseOfANewRedirect)
{
    editor.showDefaults(failed.sink());
    EXPECT_TRUE(failed.list.empty());
    const Redirect r = editor.redirect();
    EXPECT_EQ(QStringList({r.baud.text(), r.dtrRts.text(), r.parity.text(), r.dataBits.text(), r.stopBits.text(),
                           r.readTimeout.text()}),
              QStringList({"19200", "0", "0", "8", "1", "0"}));
}

TEST_F(RedirectEditorTest, TheModeSetsTitleCaptionAndDevicePair)
{
    EXPECT_FALSE(editor.isUpdating());
    editor.setMode(UpdatingRedirect{DevicePair{3, 4}, DeviceStrings{"5;0", "h;1;5;9600,0,8,1,0,0;1;0;"}});
    EXPECT_TRUE(editor.isUpdating());
    EXPECT_EQ(std::get<UpdatingRedirect>(editor.mode()).replaces, (DevicePair{3, 4}));
    EXPECT_EQ(editor.title(), "Update existing COM <-> TCP redirect");
    EXPECT_EQ(editor.cmdNewRedirect[0]->text(), "Update");
    EXPECT_EQ(editor.lblDevices->text(), "3;4");
    editor.setMode(CreatingRedirect{});
    EXPECT_EQ(editor.title(), "Create COM <-> TCP redirect");
    EXPECT_EQ(editor.cmdNewRedirect[0]->text(), "Create");
    EXPECT_EQ(editor.lblDevices->text(), "0");
}

// Stored strings, hand-edited ones too, read into a redirect, shown and built again: a
// value where the text is one the library reads and writes back the same, the text
// itself where not. The editor logs a field no choice holds, as it always did, and
// every byte comes back (the timeout as the number the editor makes of it).
TEST_F(RedirectEditorTest, StoredStringsAreShownAsBeforeAndBuiltAgainByteForByte)
{
    const struct {
        const char* stored;
        const char* oddFields;        // the fields kept as text, in the order of fieldsOf
        const char* loggedLines;      // the editor's statements that log an error
        const char* built = nullptr;  // when not the stored text
    } cases[] = {
        {"12;0;adapter.lab.example;3002;12;115200,1,7,2,3,50;1;0;", "", ""},
        {"255;0;h;65535;255;921600,0,5,1,4,2.5;1;0;", "", "190"},
        {"05;0; h ; 023;05; 9600,01,8,1,0,0;1;0;", "com port baud dtrRts", "160"},
        {"5;0;h;0;5;0,2,9,3,5,-0;1;0;", "port baud dtrRts bits stop parity timeout", "160 170 180 190 200", "5;0;h;0;5;0,2,9,3,5,0;1;0;"},
        {"x;0;h;30a1;x;19200,-1,8,1,-1,250ms;1;0;", "com port dtrRts parity timeout", "", "x;0;h;30a1;x;19200,-1,8,1,-1,250;1;0;"},
        {"256;0;h\xC3\xBC;1;256;019200,0,8,1,0,2.50;1;0;", "com baud timeout", "160", "256;0;h\xC3\xBC;1;256;019200,0,8,1,0,2.5;1;0;"},
        {";0;;;;,,,,,;1;0;", "com port baud dtrRts bits stop parity timeout", "160 190 200", ";0;;;;,,,,,0;1;0;"},
    };
    const QStringList names = {"com", "host", "port", "baud", "dtrRts", "bits", "stop", "parity", "timeout"};
    for (const auto& c : cases) {
        const QString stored = QString::fromUtf8(c.stored);
        const Redirect r = redirectFromCombinedText(stored);
        const std::optional<bool> hasValue[] = {r.comNumber.value.has_value(), std::nullopt, r.port.value.has_value(),
                                                r.baud.value.has_value(), r.dtrRts.value.has_value(),
                                                r.dataBits.value.has_value(), r.stopBits.value.has_value(),
                                                r.parity.value.has_value(), r.readTimeout.value.has_value()};
        QStringList odd;
        for (qsizetype i = 0; i < names.size(); ++i)
            if (hasValue[i] == false)
                odd << names[i];
        EXPECT_EQ(odd.join(' '), c.oddFields) << c.stored;
        EXPECT_EQ(buildCombinedText(connectorInitOf(r), tcpClientInitOf(r)), QString::fromUtf8(c.built ? c.built : c.stored));

        failed.list.clear();
        editor.showRedirect(r, failed.sink());
        QStringList lines;
        for (const EditorStep step : failed.steps())
            lines << QString::number(logPlace(step).line);
        EXPECT_EQ(lines.join(' '), c.loggedLines) << c.stored;
    }
}

}  // namespace
