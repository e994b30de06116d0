// The dialog that asks for a bookmark's title (player/bookmarkforms),
// offering the first of the bookmark's names (a file's full path or the
// folder) as a proposal.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLineEdit;
class QPushButton;

class TEditTitle : public QDialog {
    Q_OBJECT
public:
    explicit TEditTitle(QWidget* parent = nullptr);

    // Shows the dialog modally with title in Edit1 and names behind Auto; on
    // OK title becomes the edited text. Returns whether OK was chosen.
    bool ShowTitleDialog(std::string& title, const std::vector<std::string>& names);

    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();

private:
    void FormCreate();

    std::vector<std::string> names;
    bool accepted = false;
};
