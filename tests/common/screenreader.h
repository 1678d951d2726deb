#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <functional>

// What a screen reader reads of a program running in a process of its own: its windows and
// controls on the accessibility bus (AT-SPI) of the test desktop, which scripts/test-env runs
// with accessibility switched on. Roles are AT-SPI's names for them ("push button", "status bar",
// "list item"), names are what a screen reader says. Every answer is asked of the program at the
// time it is asked, so a test can wait on it.
namespace atspi {

// One accessible object of a program; null when there is none.
struct Node {
    QString service; // its program's name on the accessibility bus
    QString path;

    bool isNull() const { return service.isEmpty(); }
    QString role() const;
    QString name() const;
    QString description() const;
    QList<Node> children() const;
    // Its parent; null for the application.
    Node parent() const;
    // On the screen now (what is hidden or in a hidden window is not).
    bool showing() const;
    // Not greyed out.
    bool enabled() const;
    bool focused() const;
    // A check box ticked.
    bool checked() const;
    // Where it stands on the screen.
    QRect extents() const;
    // What a text field holds.
    QString text() const;
};

// The application object of the program with this process id, null until the program has come
// onto the accessibility bus.
Node application(qint64 pid);

// Depth first below root, the showing objects for which match holds; the parts of the tree that
// are not showing are passed over, as a screen reader passes them.
QList<Node> findAll(const Node &root, const std::function<bool(const Node &)> &match);
// The first showing object below root with that name (as read, without surrounding spaces) and
// that role, either of them any when empty.
Node find(const Node &root, const QString &name, const QString &role = QString());

// A readable outline of the showing tree below root, one object a line, for failure messages.
QString outline(const Node &root);

} // namespace atspi
