#pragma once
// The exit confirmation: stop the program ("Arrêter", OK) or only reduce it to the
// notification area ("Réduire", Cancel, also the close box), and maybe never ask again.
#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tallimer {

class TfConfirm : public QDialog {
    Q_OBJECT
  public:
    explicit TfConfirm(QWidget* parent = nullptr);
    ~TfConfirm() override;

    // Controls, named as in the window's description.
    QLabel* Image1;        // the picture beside the question
    QLabel* Label1;        // "Vous allez fermer le Tallimer Internet."
    QLabel* Label2;        // "Voulez-vous arrêter le programme ou seulement le réduire ?"
    QPushButton* BitBtn1;  // "Arrêter"
    QPushButton* BitBtn2;  // "Réduire"
    QCheckBox* CheckBox1;  // "Ne plus poser la question à l'avenir"

  protected:
    void showEvent(QShowEvent* event) override;
};

// The exit confirmation, created last at start and alive until the end.
extern TfConfirm* fConfirm;

}  // namespace tallimer
