#include "messagebox.h"

#include <QDebug>

namespace platform {

namespace {
bool &ending() {
    static bool value = false;
    return value;
}

MessageHandler &handler() {
    static MessageHandler current;
    return current;
}

MessageHandler &box() {
    static MessageHandler current;
    return current;
}

QuestionHandler &questionHandler() {
    static QuestionHandler current;
    return current;
}

QuestionHandler &questionBox() {
    static QuestionHandler current;
    return current;
}

} // namespace

QString appTitle() {
    return QStringLiteral("Kirrow");
}

void stopShowingMessages() {
    ending() = true;
}

void showMessage(const QString &text, const QString &title, MessageIcon icon) {
    if (ending())
        return;
    const QString caption = title.isEmpty() ? appTitle() : title;
    if (handler()) {
        handler()(text, caption, icon);
        return;
    }
    if (box()) {
        box()(text, caption, icon);
        return;
    }
    qWarning().noquote() << caption + QStringLiteral(": ") + text;
}

void showInputError() {
    showMessage(QStringLiteral("Numbers 0 to 9 only, please!"), QStringLiteral("Input Error"),
                MessageIcon::Warning);
}

MessageHandler setMessageHandler(MessageHandler next) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(next);
    return previous;
}

void setMessageBox(MessageHandler next) {
    box() = std::move(next);
}

bool askQuestion(const QString &text, const QString &title) {
    if (ending())
        return false;
    const QString caption = title.isEmpty() ? appTitle() : title;
    if (questionHandler())
        return questionHandler()(text, caption);
    if (questionBox())
        return questionBox()(text, caption);
    qWarning().noquote() << caption + QStringLiteral(": ") + text + QStringLiteral(" (No)");
    return false;
}

QuestionHandler setQuestionHandler(QuestionHandler next) {
    QuestionHandler previous = std::move(questionHandler());
    questionHandler() = std::move(next);
    return previous;
}

void setQuestionBox(QuestionHandler next) {
    questionBox() = std::move(next);
}

} // namespace platform
