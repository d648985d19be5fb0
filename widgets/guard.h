// The one boundary where an event enters the program's code. An error raised inside a handler is caught
// here and shown by the general error display; the rest of the handler does not run and the program
// carries on.
#pragma once

#include <QObject>
#include <functional>

// Runs work, showing any error it raises in the general error display. Returns false when it raised one.
bool runGuarded(const std::function<void()>& work);

// Connects a signal to a handler method of the receiver that takes no arguments, through runGuarded.
template <typename Sender, typename Signal, typename Receiver>
QMetaObject::Connection connectGuarded(Sender* sender, Signal signal, Receiver* receiver, void (Receiver::*handler)()) {
    return QObject::connect(sender, signal, receiver,
                            [receiver, handler] { runGuarded([&] { (receiver->*handler)(); }); });
}
