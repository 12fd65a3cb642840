#pragma once

#include <QObject>

// The flag that asks the drawing view to show the click look: raised by the overlay controller shortly
// after a left-button press, lowered again by the drawing view.
// Thread-safety: GUI thread only.
class Click : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isClicked READ isClicked WRITE setClicked NOTIFY isClickedChanged)

  public:
    explicit Click(QObject* parent = nullptr);

    bool isClicked() const { return isClicked_; }
    // Emits isClickedChanged only when the value really changes.
    void setClicked(bool clicked);

  signals:
    void isClickedChanged(bool isClicked);

  private:
    bool isClicked_ = false;
};
