#pragma once

#include <QString>

#include <functional>

// A card task's report: (cardNumber, from, to, value, text), the form the
// view's updateCardProgress takes. Called on the task's own thread.
using CardReport = std::function<void(int, int, int, int, const QString&)>;
