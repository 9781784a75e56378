// Message boxes, behind an interface so tests can answer them.
#pragma once

#include <QString>

namespace msgbox {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

inline constexpr const char* defaultCaption = "QuorlinVCP";

struct Request {
    QString text;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    QString caption = QString::fromLatin1(defaultCaption);
    Answer defaultAnswer = Answer::Ok;
};

}  // namespace msgbox

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the button the user chose.
    virtual msgbox::Answer show(const msgbox::Request& request) = 0;
};
