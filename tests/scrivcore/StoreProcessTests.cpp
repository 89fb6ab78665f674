// The store shared by two processes: a reader beside a writer, and a writer that dies.
#include "Scrivcore/AnnotationStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RawSqlite.h"
#include "tests/support/TempHome.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace scrivlet;

namespace {

using Clock = std::chrono::steady_clock;

// Every field of a revision carries the revision number, so a read that mixed two
// revisions of one record shows up as a mismatch.
Annotation revision(const std::string& path, int number) {
    Annotation record = Annotation::forFile(path, Date(std::chrono::seconds(number)));
    record.note = "revision " + std::to_string(number);
    record.tags = {std::to_string(number)};
    record.rating = number % 6;
    record.modifiedAt = Date(std::chrono::seconds(number));
    return record;
}

bool isConsistent(const Annotation& record) {
    const std::int64_t number =
        std::chrono::duration_cast<std::chrono::seconds>(record.modifiedAt.time_since_epoch())
            .count();
    return record.note == "revision " + std::to_string(number) && record.tags.size() == 1 &&
           record.tags[0] == std::to_string(number) && record.rating == number % 6;
}

TEST(StoreAcrossProcesses, ReaderBesideWriterSeesNoErrorsAndNoTornRecords) {
    TempHome home;
    const std::string storePath = home.storePath().string();
    { AnnotationStore create(storePath); }

    const pid_t reader = runInChild([&] {
        AnnotationStore store(storePath);
        for (int pass = 0; pass < 400; ++pass) {
            for (const Annotation& record : store.fetchAll()) {
                if (!isConsistent(record)) {
                    return 3;
                }
            }
            if (auto one = store.fetch("/home/u/file-3"); one && !isConsistent(*one)) {
                return 3;
            }
        }
        return 0;
    });

    AnnotationStore store(storePath);
    int status = 0;
    // Keep writing for as long as the reader reads.
    for (int number = 1;; ++number) {
        Annotation record = revision("/home/u/file-" + std::to_string(number % 10), number);
        ASSERT_NO_THROW(store.save(record));
        if (::waitpid(reader, &status, WNOHANG) == reader) {
            break;
        }
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the reader saw an error (exit 1) or a torn record (exit 3)";
}

TEST(StoreAcrossProcesses, WriterKilledDuringSavesLosesNoAcknowledgedSave) {
    TempHome home;
    const std::string storePath = home.storePath().string();
    { AnnotationStore create(storePath); }
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> killDelayMicros(0, 30'000);
    int nextRecord = 0;

    for (int round = 0; round < 100; ++round) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const int firstRecord = nextRecord;
        const pid_t writer = runInChild([&] {
            ::close(pipeEnds[0]);
            AnnotationStore store(storePath);
            for (int i = firstRecord;; ++i) {
                Annotation record = revision("/home/u/saved-" + std::to_string(i), i);
                store.save(record);
                // Acknowledge only after save() returned: this is what a caller relies on.
                if (::write(pipeEnds[1], &i, sizeof i) != sizeof i) {
                    return 5;
                }
            }
        });
        ::close(pipeEnds[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(killDelayMicros(random)));
        ::kill(writer, SIGKILL);
        waitForChild(writer);

        std::set<int> acknowledged;
        int value = 0;
        while (::read(pipeEnds[0], &value, sizeof value) == sizeof value) {
            acknowledged.insert(value);
        }
        ::close(pipeEnds[0]);

        AnnotationStore store(storePath);
        for (int i : acknowledged) {
            const auto record = store.fetch("/home/u/saved-" + std::to_string(i));
            ASSERT_TRUE(record) << "round " << round << ": acknowledged save " << i << " is gone";
            EXPECT_TRUE(isConsistent(*record));
        }
        nextRecord = acknowledged.empty() ? nextRecord + 1000 : *acknowledged.rbegin() + 1000;
    }

    EXPECT_EQ(querySqlText(storePath, "PRAGMA integrity_check"), "ok");
}

} // namespace
