#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

using platform::NamedMutex;

TEST(NamedMutex, CreateOpensAnExistingMutexAndOpenNeverCreates) {
    errno = 0;
    EXPECT_FALSE(NamedMutex::open("Global\\m"));
    EXPECT_EQ(errno, ENOENT);
    auto first = NamedMutex::create("Global\\m", 0660);
    ASSERT_TRUE(first);
    auto second = NamedMutex::create("Global\\m", 0660);
    ASSERT_TRUE(second);
    auto third = NamedMutex::open("Global\\m");
    ASSERT_TRUE(third);
    // All three are the same mutex: held through one, it is held through the others.
    ASSERT_EQ(first->lock(), NamedMutex::Acquired::kNormally);
    bool other_thread_got_it = false;
    std::thread other([&] {
        // Released below before this can succeed; only checks the lock is shared.
        other_thread_got_it = third->lock().has_value();
        third->unlock();
    });
    EXPECT_EQ(second->lock(), NamedMutex::Acquired::kNormally);  // recursive in this thread
    EXPECT_EQ(second->unlock(), 0);
    EXPECT_EQ(first->unlock(), 0);
    other.join();
    EXPECT_TRUE(other_thread_got_it);
}

TEST(NamedMutex, ExcludesThreadsThatUseSeparateMappings) {
    auto a = NamedMutex::create("Global\\count", 0660);
    auto b = NamedMutex::open("Global\\count");
    ASSERT_TRUE(a && b);
    long counter = 0;
    auto work = [&counter](const NamedMutex& m) {
        for (int i = 0; i < 20000; ++i) {
            m.lock();
            m.lock();
            const long seen = counter;
            counter = seen + 1;
            m.unlock();
            m.unlock();
        }
    };
    std::thread ta(work, std::cref(*a));
    std::thread tb(work, std::cref(*b));
    ta.join();
    tb.join();
    EXPECT_EQ(counter, 40000);
}

TEST(NamedMutex, HolderThatEndsLeavesItToTheNextLockerWhoIsTold) {
    auto m = NamedMutex::create("Global\\dead", 0660);
    ASSERT_TRUE(m);
    std::thread([&] {
        m->lock();
        m->lock();  // ends holding it twice
    }).join();
    EXPECT_EQ(m->lock(), NamedMutex::Acquired::kOwnerDied);
    EXPECT_EQ(m->unlock(), 0);
    EXPECT_EQ(m->lock(), NamedMutex::Acquired::kNormally) << "consistent again";
    EXPECT_EQ(m->unlock(), 0);
}

TEST(NamedMutex, UnlockWithoutHoldingFails) {
    auto m = NamedMutex::create("Global\\notmine", 0660);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->unlock(), -1);
    EXPECT_EQ(errno, EPERM);
    NamedMutex empty;
    EXPECT_FALSE(empty.lock());
    EXPECT_EQ(errno, EINVAL);
}
