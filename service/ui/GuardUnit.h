// The edge of every event handler: an error that escapes a handler is shown
// in an error box captioned with the application title, and the window goes
// on. Qt carries no exception through its event loop, so every handler that
// the toolkit calls runs its body through `Guarded` (`OnEvent` connects a
// signal that way).
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <utility>

class QWidget;

namespace ostra {

// The application title: the caption of the error boxes. Set by the main
// window for its interface kind (and by the plug-in's window for its own).
// It is the application's name (QCoreApplication::applicationName); the
// display name is never set, so no window title gets it appended.
QString ApplicationTitle();
void SetApplicationTitle(const QString& Title);

// Shows `Error` in an error box whose caption is the application title.
void ShowException(QWidget* Owner, const std::exception& Error);
// The same for an error that is not a std::exception.
void ShowUnknownException(QWidget* Owner);

// Runs `Body`; an error that leaves it is shown by `ShowException`.
template <class F>
void Guarded(QWidget* Owner, F&& Body) noexcept {
    try {
        std::forward<F>(Body)();
    } catch (const std::exception& e) {
        ShowException(Owner, e);
    } catch (...) {
        ShowUnknownException(Owner);
    }
}

// Connects `Sig` of `From` to the handler `Handler` of `To`, run through
// `Guarded` with the form as the owner of the error box.
template <class Sender, class Signal, class Form>
void OnEvent(Sender* From, Signal Sig, Form* To, void (Form::*Handler)()) {
    QObject::connect(From, Sig, To, [To, Handler] { Guarded(To, [&] { (To->*Handler)(); }); });
}

}  // namespace ostra
