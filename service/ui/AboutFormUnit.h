// The about box.
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutForm;
}

namespace ostra {

class TAboutForm : public QDialog {
    Q_OBJECT
  public:
    // `Kind` is the interface kind whose titles the box shows.
    explicit TAboutForm(int Kind);
    ~TAboutForm() override;

    void FormCreate(int Kind);

  private:
    std::unique_ptr<Ui::TAboutForm> ui;
};

// Shows the about box of interface kind `Kind` modally, without an owner.
void ShowAboutForm(int Kind);

}  // namespace ostra
