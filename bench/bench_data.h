#pragma once

#include "store/session.h"

#include <cstdint>
#include <random>
#include <string>

// A session of `count` contacts with the field lengths of a real marketing
// list: every contact has an address, most a name, fewer a company, a
// telephone, a postal address or notes; a third were contacted before.
inline velmora::store::Session makeBenchSession(std::int32_t count, std::uint32_t seed = 20261207) {
    static const char* const first[] = {"Ann",   "Bob",  "Carla", "Dmitri", "Eve",   "Farid",
                                        "Grace", "Hiro", "Ines",  "Jonas",  "Kemal", "Lena"};
    static const char* const last[] = {"Lee",    "Stone",  "Okafor", "Novak",    "Garcia", "Jensen",
                                       "Tanaka", "Moreau", "Silva",  "Kowalski", "Brown"};
    static const char* const domains[] = {"example.org", "mail.example.com", "example.net",
                                          "corp.example.co.uk"};
    std::mt19937 random(seed);
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    velmora::store::Session session;
    session.resetToNew();
    session.addCampaignGroup(-1, "Spring Fair", "Visitors of the spring fair");
    session.addCampaignGroup(-1, "Newsletter", "");
    session.reserveContacts(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string f = first[pick(12)];
        const std::string l = last[pick(11)];
        velmora::store::NewContact c;
        c.email = f + "." + l + std::to_string(i) + "@" + domains[pick(4)];
        if (pick(10) < 7) {
            c.name = f + " " + l;
        }
        if (pick(10) < 3) {
            c.company = l + " & Partners Ltd";
        }
        if (pick(10) < 2) {
            c.telephone = "+44 20 7946 " + std::to_string(1000 + pick(9000));
        }
        if (pick(10) < 2) {
            c.address = std::to_string(1 + pick(200)) + " High Street\r\nSpringfield SP1 " +
                        std::to_string(pick(10)) + "AB";
        }
        if (pick(10) < 2) {
            c.notes = "Met at the fair; wants the autumn catalogue";
        }
        c.groupIndex = 1 + pick(3);
        c.status = pick(4) == 3 ? -1 : pick(3);
        const auto slot = session.createContact(c, "03/0" + std::to_string(1 + pick(9)) + "/2025");
        if (pick(3) == 0) {
            session.markContacted(slot, "11/2" + std::to_string(pick(10)) + "/2026");
        }
    }
    return session;
}
