#pragma once

#include <functional>

class QWidget;

// Acts on the next modal window that opens (a QDialog::exec() or a real
// message box) from inside its event loop: `action` gets the window once it
// is the active modal widget; the window modal when it is armed and wait
// windows (QProgressDialog) do not count. Gives up after `timeoutMs`.
void onNextModal(std::function<void(QWidget *)> action, int timeoutMs = 5000);
