#pragma once

#include "base/outcome.h"

#include <QString>

#include <functional>

// A card task's report: (cardNumber, from, to, value, text), the form the
// view's updateCardProgress takes. Called on the task's own thread.
using CardReport = std::function<void(int, int, int, int, const QString&)>;

// How a card task ended: (cardNumber, outcome), told beside the card's last
// report. Called on the task's own thread.
using CardOutcomeReport = std::function<void(int, const Outcome&)>;
