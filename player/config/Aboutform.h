// The about box: the version, the project's notice, links to the help
// document and to the contact address, and the engine's own texts.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
struct IPlayer;

class TAbout final : public QDialog {
    Q_OBJECT
public:
    // With the contact address set at build time and the shipped help document.
    TAbout(QWidget* parent, IPlayer* player);
    // An empty contact or help file hides its link.
    TAbout(QWidget* parent, IPlayer* player, const QString& contact, const QString& helpFile);
    ~TAbout() override;

    static void Execute(QWidget* parent, IPlayer* player);

private slots:
    void Label5Click(const QString& link);
    void Button1Click();

private:
    void FormCreate(IPlayer* player);
    void FormDestroy();
    static void setLink(QLabel* label, const QString& url, const QString& caption);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label5; // the help document
    QLabel* Label4; // mail to the contact address
    QPlainTextEdit* Memo1;
    QPushButton* Button1;
};
