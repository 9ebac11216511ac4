// The plans of runs: a new run over the send list, a retry of what a run
// did not deliver, the resume of an interrupted run.
#include "delivery/message/draft_file.h"
#include "delivery/run/delivery_run.h"
#include "store/text.h"

namespace velmora::delivery {

void noteStampsSaved(store::Session& session, const std::string& runId, std::int32_t stampNumber) {
    store::SessionSettings settings = session.settings();
    settings.extensions.set(kRunStampsKey, runStampsMarker(runId, stampNumber));
    session.setSettings(std::move(settings));
}

namespace {

// A new run's journal: beside the session's file (none for an untitled
// session), its header naming the draft it sends.
void journalNewRun(DeliveryPlan& plan, const store::Session& session, const MessageDraft& draft,
                   const std::string& draftPath) {
    if (!session.isUntitled()) {
        plan.journalFolder = journalFolder(session.sessionFileName);
    }
    plan.header.draftPath = draftPath;
    plan.header.draftDigest = draftDigest(draft);
    plan.header.format = draft.format;
    plan.header.subject = std::string(store::trimSpaces(draft.subject));
}

} // namespace

DeliveryPlan newRunPlan(const store::Session& session, const MessageDraft& draft,
                        const std::string& draftPath) {
    DeliveryPlan plan;
    for (std::int32_t i = 1; i <= session.sendList.count(); ++i) {
        const store::Contact& entry = session.sendList.at(i);
        plan.recipients.push_back({entry.id, std::string(entry.email.view())});
    }
    journalNewRun(plan, session, draft, draftPath);
    plan.logDialogue = draft.recipientChoice == code(RecipientChoice::SingleRecipient);
    return plan;
}

DeliveryPlan retryPlan(const store::Session& session, const RunRecord& run,
                       const MessageDraft& draft,
                       const std::set<std::optional<DeliveryOutcome>>& outcomes,
                       const std::string& draftPath) {
    DeliveryPlan plan;
    bool coversTheRest = true;
    for (const JournalRecipient& recipient : run.recipients) {
        if (recipient.deliveredBy.empty() && outcomes.contains(recipient.outcome())) {
            plan.recipients.push_back({recipient.slot, recipient.address});
        } else if (recipient.open()) {
            coversTheRest = false;
        }
    }
    if (coversTheRest && !run.finished && run.closedBy.empty()) {
        plan.closesJournal = run.path;
    }
    journalNewRun(plan, session, draft, draftPath);
    plan.header.retryOf = run.id;
    return plan;
}

ResumeCheck resumePlan(store::Session& session, const RunRecord& run, const MessageDraft& draft,
                       bool force, DeliveryPlan& plan) {
    if (!force && draftDigest(draft) != run.draftDigest) {
        return ResumeCheck::DraftChanged;
    }
    plan = DeliveryPlan{};
    plan.resumeJournal = run.path;
    plan.forced = force;
    plan.header.draftDigest = run.draftDigest;
    plan.header.subject = run.subject;
    plan.lastStampNumber = run.lastStampNumber();
    for (const JournalRecipient& recipient : run.recipients) {
        plan.recipients.push_back({recipient.slot, recipient.address});
        if (recipient.hasFinalOutcome()) {
            plan.settled.push_back(recipient.outcome());
        } else if (!recipient.deliveredBy.empty()) {
            plan.settled.push_back(DeliveryOutcome::Delivered); // by a later run
        } else {
            plan.settled.push_back(std::nullopt);
        }
    }
    const std::vector<UnsavedStamp> stamps =
        unsavedStamps(run, session.settings().extensions.value(kRunStampsKey));
    for (const UnsavedStamp& stamp : stamps) {
        const std::int32_t slot = stamp.recipient->slot;
        if (!session.hasContact(slot)) {
            continue;
        }
        // Only the contact the message went to: the slot may hold another by now.
        const store::Contact& contact = session.contact(slot);
        if (!contact.isDeleted() &&
            store::equalIgnoringCase(store::trimSpaces(contact.email.view()),
                                     stamp.recipient->address)) {
            session.markContacted(slot, stamp.attempt->stamp);
        }
    }
    if (!stamps.empty()) {
        noteStampsSaved(session, run.id, plan.lastStampNumber);
    }
    return ResumeCheck::Ready;
}

std::optional<RunRecord> interruptedRun(const store::Session& session) {
    if (session.isUntitled()) {
        return std::nullopt;
    }
    std::optional<RunRecord> run = newestUnfinishedRun(
        journalFolder(session.sessionFileName), session.settings().extensions.value(kRunStampsKey));
    if (run && run->damaged()) {
        return std::nullopt; // nothing to offer: whom it was for is not known
    }
    return run;
}

bool loadRunDraft(const RunRecord& run, MessageDraft& draft, std::string& error) {
    DraftReadResult read = readDraftFile(run.draftPath);
    if (read.status != DraftReadStatus::Loaded) {
        error = "The draft of the interrupted run cannot be read (\"" + run.draftPath +
                "\"); it was not resumed.";
        return false;
    }
    draft = std::move(read.draft);
    draft.format = run.format;
    return true;
}

bool prepareResume(store::Session& session, const RunRecord& run, MessageDraft& draft,
                   DeliveryPlan& plan, std::string& error) {
    if (!loadRunDraft(run, draft, error)) {
        return false;
    }
    if (resumePlan(session, run, draft, false, plan) == ResumeCheck::DraftChanged) {
        error = kDraftChangedForWindowText;
        return false;
    }
    return true;
}

std::string resumeQuestion(const RunRecord& run) {
    return "A sending of \"" + run.subject + "\" was interrupted after " +
           std::to_string(run.withFinalOutcome()) + " of " + std::to_string(run.recipients.size()) +
           " recipients. Resume it now?";
}

SendRunSummary retryNotDelivered(store::Session& session, const MessageDraft& draft,
                                 const std::string& runId, const SendRunEnvironment& environment,
                                 RunObserver& observer) {
    std::optional<RunRecord> run;
    if (!session.isUntitled()) {
        run = findLinkedRun(journalFolder(session.sessionFileName), runId);
    }
    if (!run || run->damaged()) {
        observer.logLine(run ? damagedJournalText(*run) : "The run's journal cannot be found.");
        observer.progress(kFinishedLabel);
        observer.sendingChanged(false);
        return {};
    }
    const DeliveryPlan plan = retryPlan(
        session, *run, draft, {DeliveryOutcome::Deferred, DeliveryOutcome::Failed, std::nullopt},
        run->draftPath);
    return runDelivery(session, draft, plan, environment, observer);
}

} // namespace velmora::delivery
