#pragma once

#include "cards/cardreport.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

// Why the path may not be prepared as a card, empty when it may: only a
// volume that could be a card (not the system's, not read-only, at most
// 128 GiB) is given marker files, and only the root of a whole file system
// on it is wiped; marker files may go to a folder.
QString cardScopeProblem(const QString& path, bool wipe);

// Whether a path relative to a card's root names a file that preparation
// writes itself (the index, marker and autorun files, the sync configuration).
bool isPreparationFile(const QString& relativePath);

// How a wipe is checked. By default a card is wiped only when every media
// file on it has its proven copies (see WipeCheck) and it holds no other file
// that the wipe would delete.
struct WipeOptions
{
    bool force = false; // wipe anyway; the log names what had no proven copy, or was not imported
    bool reverify = false; // read every card file and copy whole and compare their hashes first
    QString ledgerPath;    // empty: the ledger every import writes to
    int copies = 1;        // proven copies, in distinct destinations, every media file needs
    // Told in the check pass of each card whose wipe would lose media files
    // without a proven copy (or could not look everywhere): their paths
    // relative to the card, in path order.
    std::function<void(int card, const QStringList& relativePaths)> unverified;
    // Told likewise of the files that are not media, which no import copies.
    std::function<void(int card, const QStringList& relativePaths)> notImported;
};

// Prepares the three cards for the next dive: optional wipe, optional sync
// configuration, marker files. Nothing is touched unless all three cards
// pass the checks. Runs to its end on the calling thread and returns how
// each card ended, in camera order: Succeeded when prepared, Refused when the
// checks refused it or it was left untouched because another card was,
// Failed when it could not be erased or written completely.
std::array<Outcome, 3> prepareCards(const QString& card1, const QString& card2,
                                    const QString& card3, bool eraseCards, bool createSyncConfig,
                                    const CardReport& report,
                                    const WipeOptions& wipe = WipeOptions());
