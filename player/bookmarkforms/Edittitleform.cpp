#include "player/bookmarkforms/Edittitleform.h"

#include "player/bookmarkforms/Formlook.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>

TEditTitle::TEditTitle(QWidget* parent) : QDialog(parent) {
    setObjectName("EditTitle");
    setWindowTitle("Edit Bookmark Title");

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(8, 8, 317, 20);
    // The field has no label on the form; a screen reader says this.
    Edit1->setAccessibleName(tr("Bookmark title"));

    Button1 = new QPushButton("&OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(92, 36, 75, 25);
    Button1->setDefault(true);

    Button2 = new QPushButton("&Close", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(172, 36, 75, 25);
    Button2->setAutoDefault(false);

    Button3 = new QPushButton("&Auto", this);
    Button3->setObjectName("Button3");
    Button3->setGeometry(252, 36, 75, 25);
    Button3->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, &TEditTitle::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TEditTitle::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TEditTitle::Button3Click);

    SetUpFixedDialog(this, 334, 65);
    FormCreate();
}

void TEditTitle::FormCreate() {
    setWindowTitle(windowTitle() + " - " + VersionText);
}

bool TEditTitle::ShowTitleDialog(std::string& title, const std::vector<std::string>& names) {
    Edit1->setText(QString::fromStdString(title));
    this->names = names;
    accepted = false;
    exec();
    if (accepted)
        title = Edit1->text().toStdString();
    return accepted;
}

void TEditTitle::Button1Click() {
    accepted = true;
    accept();
}

// Esc and the close box reject as well; accepted is already false then.
void TEditTitle::Button2Click() {
    accepted = false;
    reject();
}

void TEditTitle::Button3Click() {
    if (!names.empty())
        Edit1->setText(QFile::decodeName(QByteArray::fromStdString(names.front())));
}
