#pragma once

#include <QString>

#include <functional>

namespace platform {

// The caption of every message box that has no title of its own.
QString appTitle();

enum class MessageIcon { None, Information, Warning, Critical };

// Shows a message box with an OK button only. Everything the program tells the user in a box
// goes through here, so a test can see what would have been shown without a modal loop.
void showMessage(const QString &text, const QString &title = QString(),
                 MessageIcon icon = MessageIcon::None);

// From now on messages are not shown: the program is ending and a box would hold the shutdown
// up (errors that are logged still go to the log).
void stopShowingMessages();

// The warning of a number box that was given something other than digits.
void showInputError();

using MessageHandler = std::function<void(const QString &text, const QString &title, MessageIcon)>;
// Replaces how messages are shown; an empty handler restores the message box. Returns the old one.
MessageHandler setMessageHandler(MessageHandler handler);

// Asks the user a question to be answered Yes or No (No is the default button); true for Yes.
// Goes the way showMessage goes: to a test's handler, else to the box; a program without
// widgets, or one that is ending, takes No.
bool askQuestion(const QString &text, const QString &title = QString());

using QuestionHandler = std::function<bool(const QString &text, const QString &title)>;
// Replaces how questions are asked; an empty handler restores the box. Returns the old one.
QuestionHandler setQuestionHandler(QuestionHandler handler);
// The question box itself, put here by the widget layer as the message box is.
void setQuestionBox(QuestionHandler box);

// The message box itself, which the widget layer puts here as the program starts (messageboxes.cpp,
// in every program that links kirrow_platform): this library links Qt Core only. A program
// without widgets writes its messages to its error output instead.
void setMessageBox(MessageHandler box);

} // namespace platform
