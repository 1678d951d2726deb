#pragma once

#include <QDialog>

class PictureBox;
class QComboBox;
class QListWidget;
class QPushButton;

// The last five calls, newest first, as the log holds them. A double-click puts a call's number
// back into the main window's number box, ready to dial.
class frmRecent : public QDialog {
    Q_OBJECT
public:
    // numberBox is the main window's number box; path is the recent-call log.
    frmRecent(QComboBox *numberBox, const QString &path, QWidget *parent = nullptr);

    PictureBox *Picture1 = nullptr;
    QListWidget *Recentlist = nullptr;
    QPushButton *CLOSE = nullptr;

private slots:
    void Recentlist_DblClick();
    void CLOSE_Click();

private:
    void CreateControls();
    void Form_Load();

    QComboBox *m_numberBox;
    QString m_path;
};
