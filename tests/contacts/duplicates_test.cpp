#include "contacts/duplicates.h"

#include <gtest/gtest.h>
#include <random>

namespace velmora::contacts {

namespace {

// Compares every live slot with every other, as the window describes it.
DuplicatesResult slotBySlot(store::Session& s) {
    DuplicatesResult r;
    for (std::int32_t j = 1; j <= s.contactCount(); ++j) {
        if (s.contact(j).isDeleted()) {
            continue;
        }
        const std::string key = contactEmailKey(s.contact(j).email);
        for (std::int32_t k = 1; k <= s.contactCount(); ++k) {
            if (k != j && !s.contact(k).isDeleted() && contactEmailKey(s.contact(k).email) == key) {
                r.lines.push_back(s.contact(k).email.str());
                s.deleteContact(k);
                ++r.removed;
            }
        }
    }
    r.lines.push_back(duplicatesSummaryLine(r.removed));
    return r;
}

void addContact(store::Session& s, const std::string& email) {
    store::Contact c;
    c.email = email;
    c.id = s.contactCount() + 1;
    s.appendContact(c);
}

} // namespace

TEST(RemoveDuplicates, LowestSlotSurvivesAndLinesShowAddressesAsStored) {
    store::Session s;
    for (const char* e : {"a@x", "Dup@x", "b@x", "c@x", " dup@X ", "d@x", "e@x", "f@x", "DUP@x"}) {
        addContact(s, e);
    }
    const auto r = removeDuplicates(s);
    EXPECT_EQ(r.removed, 2);
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{" dup@X ", "DUP@x", "Removed 2 duplicate records."}));
    EXPECT_FALSE(s.contact(2).isDeleted());
    EXPECT_TRUE(s.contact(5).isDeleted());
    EXPECT_TRUE(s.contact(9).isDeleted());
}

TEST(RemoveDuplicates, NothingToRemoveAndInnerBlanksDiffer) {
    store::Session empty;
    EXPECT_EQ(removeDuplicates(empty).lines, (std::vector<std::string>{"No duplicates found."}));
    store::Session s;
    addContact(s, "a b@x");
    addContact(s, "ab@x");
    EXPECT_EQ(removeDuplicates(s).removed, 0);
}

TEST(RemoveDuplicates, MatchesComparingEverySlotWithEveryOther) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        store::Session one;
        store::Session two;
        for (int i = 0; i < 300; ++i) {
            std::string email = "user" + std::to_string(random() % 60) + "@x.org";
            if (random() % 3 == 0) {
                email[0] = 'U';
            }
            if (random() % 4 == 0) {
                email = " " + email + "  ";
            }
            addContact(one, email);
            addContact(two, email);
            if (random() % 10 == 0) {
                one.deleteContact(one.contactCount());
                two.deleteContact(two.contactCount());
            }
        }
        std::vector<std::int32_t> progress;
        const auto fast = removeDuplicates(one, [&](std::int32_t j) { progress.push_back(j); });
        const auto reference = slotBySlot(two);
        ASSERT_EQ(fast.lines, reference.lines) << "round " << round;
        for (std::int32_t slot = 1; slot <= one.contactCount(); ++slot) {
            ASSERT_EQ(one.contact(slot).status, two.contact(slot).status);
        }
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 300);
    }
}

TEST(RemoveDuplicates, FoldsLatin1CapitalsAsSearchDoes) {
    store::Session s;
    s.resetToNew();
    for (const char* email : {"zoë@x.org", "ZOË@X.ORG", " Zoë@x.org ", "zoe@x.org", "ÀÉÎ@x.org",
                              "àéî@x.org", "a×b@x.org", "a÷b@x.org"}) {
        addContact(s, email);
    }
    store::Session reference;
    reference.resetToNew();
    for (std::int32_t slot = 1; slot <= s.contactCount(); ++slot) {
        addContact(reference, s.contact(slot).email.str());
    }
    const DuplicatesResult result = removeDuplicates(s);
    // The multiplication and division signs are no letter pair: both stay.
    EXPECT_EQ(result.lines, (std::vector<std::string>{"ZOË@X.ORG", " Zoë@x.org ", "àéî@x.org",
                                                      duplicatesSummaryLine(3)}));
    EXPECT_EQ(result.lines, slotBySlot(reference).lines);
    EXPECT_TRUE(s.emailExists("ZOË@x.org"));
    EXPECT_TRUE(s.emailExists("Àéî@X.org"));
    EXPECT_TRUE(s.emailExists("A×B@X.ORG"));
}

} // namespace velmora::contacts
