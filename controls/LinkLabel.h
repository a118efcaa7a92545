#pragma once
// A label that looks and acts like a link: blue, underlined, hand cursor, clickable, a Tab
// stop that Return or Space follows, and a link to a screen reader.
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
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace tallimer
