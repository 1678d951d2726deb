// qt_floor: the least a Qt Widgets program does before its first window is on screen: the
// application object, one dialog with a label and a line edit, shown. bench/run starts it beside
// Kirrow so that Kirrow's start-up can be read against what Qt itself costs on the same machine
// in the same run.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Qt floor"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Account/Pin")));
    layout->addWidget(new QLineEdit);
    dialog.show();
    return QApplication::exec();
}
