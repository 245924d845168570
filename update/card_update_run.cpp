#include "update/card_update_run.h"

#include "update/run_log.h"
#include "update/size_text.h"

#include <utility>

namespace kqget {

namespace {

constexpr std::string_view kDone = "DONE !";

bool isHttpError(long status)
{
    return status >= 400;
}

} // namespace

CardUpdateRun::CardUpdateRun(ProgressPort& progress, FileSystemPort& fileSystem,
                             TransferPort& transfer, ServiceHosts hosts, std::string logPath)
    : m_progress(progress), m_fileSystem(fileSystem), m_transfer(transfer),
      m_hosts(std::move(hosts)), m_logPath(std::move(logPath))
{}

RunTally CardUpdateRun::run(const RunInputs& inputs)
{
    m_tally = {};
    m_progress.setUpdateEnabled(false);
    m_progress.setConfirmEnabled(false);
    m_progress.processPendingEvents();

    const std::string key(trimSpaces(inputs.key));
    const std::string userName(trimSpaces(inputs.userName));
    const std::string_view typedFolder = trimSpaces(inputs.dataFolder);
    const char separator = m_fileSystem.separator();
    const std::string dataFolder = withTrailingSeparator(typedFolder, separator);
    if (dataFolder.size() != typedFolder.size()) {
        m_progress.setDataFolderText(dataFolder);
        m_progress.processPendingEvents();
    }
    refuseRootDataFolder(dataFolder, separator);

    RunLog log(m_fileSystem.createLog(m_logPath));
    const CardLocations cards(m_hosts, key, userName, dataFolder, separator);

    for (char letter = 'A'; letter <= 'D' && !m_tally.stopped; ++letter) {
        for (const std::string_view cardId : m_fileSystem.searchCardEntries(dataFolder, letter)) {
            if (m_tally.stopped || m_progress.stopRequested()) {
                m_tally.stopped = true;
                break;
            }
            if (cardId == "." || cardId == ".." ||
                !m_fileSystem.isDirectory(cards.folderPath(cardId))) {
                continue;
            }
            updateCard(log, cards, cardId);
            m_progress.processPendingEvents();
        }
    }
    log.close();

    if (!m_tally.stopped) {
        m_progress.setStatusText(kDone);
        m_progress.setUpdateCaption(kDone);
        m_progress.setResetEnabled(true);
        m_progress.processPendingEvents();
    }
    return std::exchange(m_tally, {});
}

void CardUpdateRun::updateCard(RunLog& log, const CardLocations& cards, std::string_view cardId)
{
    log.writeLine(cardId);
    ++m_tally.cardsChecked;
    m_progress.tallyChanged(m_tally);

    const std::string xmlPath = cards.xmlPath(cardId);
    if (sizeFile(log, xmlPath) == 0) {
        fetchInto(log, cards.infoUrl(cardId), xmlPath);
    }
    if (m_tally.stopped) {
        return;
    }
    const std::string illustrationPath = cards.illustrationPath(cardId);
    const std::uint64_t size = sizeFile(log, illustrationPath);
    if (size == 0 || size < kMinimumIllustrationSize) {
        fetchInto(log, cards.imageUrl(cardId), illustrationPath);
    }
}

std::uint64_t CardUpdateRun::sizeFile(RunLog& log, const std::string& path)
{
    const std::uint64_t size = m_fileSystem.fileSize(path);
    log.writePiece(path);
    reportSize(log, " size ", size);
    return size;
}

void CardUpdateRun::fetchInto(RunLog& log, const std::string& url, const std::string& path)
{
    if (m_progress.stopRequested()) {
        m_tally.stopped = true;
        return;
    }
    FetchResult result;
    try {
        result = m_transfer.get(url);
    } catch (const TransferStopped&) {
        m_tally.stopped = true;
        return;
    }
    log.writePiece("Download File: ");
    log.writePiece(url);
    m_progress.setStatusText(std::string("Get ").append(url));
    m_progress.processPendingEvents();

    // An error page or a runaway body would replace a card file with junk that
    // the next run takes for good; the file is left as it was instead.
    std::string notStoredReason;
    if (isHttpError(result.httpStatus)) {
        notStoredReason = "HTTP " + std::to_string(result.httpStatus);
    } else if (result.overSizeCap) {
        notStoredReason = "response over " + std::to_string(kBodySizeCapMiB) + " MiB";
    }
    if (!notStoredReason.empty()) {
        log.writeLine(" Not stored: " + notStoredReason);
        m_tally.notStored.push_back({url, path, std::move(notStoredReason)});
        m_progress.tallyChanged(m_tally);
        return;
    }

    m_fileSystem.replaceFile(path, result.body);
    ++m_tally.filesStored;
    m_progress.tallyChanged(m_tally);
    reportSize(log, " New size ", m_fileSystem.fileSize(path));
}

void CardUpdateRun::reportSize(RunLog& log, std::string_view label, std::uint64_t size)
{
    const std::string text = sizeText(size);
    log.writePiece(label);
    log.writeLine(text);
    m_progress.setSizeText(text);
    m_progress.processPendingEvents();
}

} // namespace kqget
