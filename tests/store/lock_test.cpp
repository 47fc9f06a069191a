// The lock against real record locks on a temporary file, with a second
// process holding it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "elabel_platform.h"
#include "fake_platform.h"

using fake::g;

namespace {

std::string lock_path;
int last_fd = -1;

int open_redirected(const char *path, int flags, mode_t mode)
{
    if (std::strcmp(path, ELABEL_LOCK_FILE) != 0) {
        return open(path, flags, mode);
    }
    g.lock_path = path;
    last_fd = open(lock_path.c_str(), flags, mode);
    return last_fd;
}

int real_fcntl(int fd, int cmd, struct flock *lock)
{
    return fcntl(fd, cmd, lock);
}

// A child process that holds a whole-file write lock until it is killed.
class holder {
public:
    holder()
    {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char ok = fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &ok, 1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char ok = 'n';
        locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
    }
    ~holder() { release(); }
    void release()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

} // namespace

class LockTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        char dir[] = "/tmp/elabel-lock-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        dir_ = dir;
        lock_path = dir_ + "/lock";
        elabel_platform.file.open = open_redirected;
        elabel_platform.file.fcntl_lock = real_fcntl;
        elabel_platform.file.close = close;
    }
    void TearDown() override
    {
        StoreTest::TearDown();
        unlink(lock_path.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_;
};

TEST_F(LockTest, MissingFileIsCreatedPrivate)
{
    const mode_t old_mask = umask(022);
    int32_t fd = -1;
    EXPECT_EQ(0, elabel_set_lock(&fd, 1));
    umask(old_mask);
    struct stat st {};
    ASSERT_EQ(0, stat(lock_path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ("/run/elabel_lock_flag", g.lock_path);
    EXPECT_EQ(0, elabel_set_unlock(fd));
    EXPECT_EQ(-1, fcntl(fd, F_GETFD));  // the descriptor is closed
}

TEST_F(LockTest, LockHeldByAnotherProcessTimesOutAndClosesTheFile)
{
    holder other;
    ASSERT_TRUE(other.locked());
    int32_t fd = -1;
    EXPECT_EQ(-1, elabel_set_lock(&fd, 3));
    EXPECT_EQ((std::vector<unsigned>{1000, 1000, 1000}), g.sleeps);
    EXPECT_EQ(-1, fcntl(last_fd, F_GETFD));
    EXPECT_TRUE(g.log.empty());  // the caller logs

    other.release();
    EXPECT_EQ(0, elabel_set_lock(&fd, 3));
    EXPECT_EQ(0, elabel_set_unlock(fd));
}

TEST_F(LockTest, LoadThatWritesBackRelocksInTheSameProcess)
{
    // A blank device makes the load write back while it holds the lock.
    EXPECT_EQ(-1, driver_elabel_init());
    EXPECT_EQ(2, g.writes);
    EXPECT_TRUE(g.sleeps.empty());

    // Afterwards the lock is free for another process.
    holder other;
    EXPECT_TRUE(other.locked());
}

TEST_F(LockTest, GetDataGivesUpAfterTenBusyLoads)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    holder other;
    ASSERT_TRUE(other.locked());
    uint8_t out[16] = {};
    uint16_t len = 0;
    EXPECT_EQ(-8, elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ(10 * 1000 + 10u, g.sleeps.size());
    EXPECT_EQ(0, g.reads);
    other.release();
    EXPECT_EQ(0, elabel_get_data(0x30, out, sizeof(out), &len));
    EXPECT_EQ(4, len);
}

TEST_F(LockTest, LockNestsSoThatAProgramHoldsItFromLoadToWriteBack)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    int32_t fd = -1;
    ASSERT_EQ(0, elabel_set_lock(&fd, 1));
    ASSERT_EQ(0, driver_elabel_init());
    EXPECT_FALSE(holder().locked());  // the load's unlock left the outer lock alone
    ASSERT_EQ(0, set_data_to_elabel_mem(0x31, "B"));
    EXPECT_EQ(0, driver_elabel_update());
    EXPECT_FALSE(holder().locked());
    // The load's two reads were under the same lock: the write-back takes the
    // second for the label it replaces and reads only to check what it wrote.
    EXPECT_EQ(3, g.reads);
    EXPECT_EQ(0, elabel_set_unlock(fd));
    EXPECT_TRUE(holder().locked());
    EXPECT_EQ(-1, fcntl(fd, F_GETFD));  // only the outermost unlock closes the file
}

TEST_F(LockTest, ChildOfTheHolderDoesNotGetTheLock)
{
    int32_t fd = -1;
    ASSERT_EQ(0, elabel_set_lock(&fd, 1));
    const pid_t pid = fork();
    if (pid == 0) {
        int32_t child_fd = -1;
        _exit(elabel_set_lock(&child_fd, 1) == -1 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_EQ(0, status);  // the record lock is the parent's alone
    EXPECT_EQ(0, elabel_set_unlock(fd));
}
