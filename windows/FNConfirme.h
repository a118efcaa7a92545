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

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QCheckBox* CheckBox1;

  protected:
    void showEvent(QShowEvent* event) override;
};

// The exit confirmation, created last at start and alive until the end.
extern TfConfirm* fConfirm;

}  // namespace tallimer
