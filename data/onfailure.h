// Clean-up that runs only when a scope is left by an error: what a half-done step must undo (a connection
// closed, a dataset left empty) is said once, where the step begins, and done by a destructor.
#pragma once

#include <exception>
#include <utility>

template <class Undo> class OnFailure {
public:
    explicit OnFailure(Undo undo) : undo_(std::move(undo)), errors_(std::uncaught_exceptions()) {}
    ~OnFailure() {
        if (std::uncaught_exceptions() > errors_) {
            undo_();
        }
    }
    OnFailure(const OnFailure&) = delete;
    OnFailure& operator=(const OnFailure&) = delete;

private:
    Undo undo_;
    int errors_;
};
