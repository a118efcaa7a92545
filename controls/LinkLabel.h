#pragma once
// A label that looks and acts like a link: blue, underlined, hand cursor, clickable.
#include <QLabel>

namespace tallimer {

class TLinkLabel : public QLabel {
    Q_OBJECT
  public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace tallimer
