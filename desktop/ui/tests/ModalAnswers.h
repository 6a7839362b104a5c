// Answers the modal windows a test's click opens, from the event loop that
// the click runs: the next folder chooser, the next message box, or every
// message box until told to stop. Used by the window tests.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace varnelo::desktop::test {

// Picks `path` in the next modal folder chooser.
inline void chooseInNextDialog(const QString& path) {
  QTimer::singleShot(0, [path] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      chooseInNextDialog(path);
      return;
    }
    dialog->setDirectory(path);
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
  });
}

// Answers the next message box with `which` (or its first button),
// recording its text.
inline void answerNextBox(QString* seen,
                          QMessageBox::StandardButton which = QMessageBox::NoButton) {
  QTimer::singleShot(0, [seen, which] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      answerNextBox(seen, which);
      return;
    }
    *seen = box->text();
    if (which != QMessageBox::NoButton && box->button(which))
      box->button(which)->click();
    else
      box->buttons().first()->click();
  });
}

// Answers every message box with `which` (or its first button), recording
// its text, until `stop` is set.
inline void answerBoxes(QStringList* seen, QMessageBox::StandardButton which, const bool* stop) {
  QTimer::singleShot(10, [=] {
    if (*stop) return;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      *seen << box->text();
      if (box->button(which))
        box->button(which)->click();
      else
        box->buttons().first()->click();
    }
    answerBoxes(seen, which, stop);
  });
}

}  // namespace varnelo::desktop::test
