// publish: the board's label published for readers without root, as every
// write-back publishes it; run at boot after recover.
#include <cerrno>
#include <cstring>

#include "elabel_platform.h"
#include "elabel_publish.h"
#include "image_tool.h"

int image_publish_run(const image_options &)
{
    const char *dir = elabel_platform.publish_dir;
    switch (elabel_publish_board()) {
    case elabel_publish_result::published:
        return IMAGE_OK;
    case elabel_publish_result::busy:
        image_error("publish: the label is locked by another run (bus busy), or the lock file "
                    "%s cannot be opened: nothing published",
                    ELABEL_LOCK_FILE);
        return IMAGE_DEVICE;
    case elabel_publish_result::unread:
        image_error("publish: reading %s failed (the system log has the details): nothing "
                    "published",
                    ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    case elabel_publish_result::pending:
        image_error("publish: an unfinished write-back is pending: nothing published "
                    "(elabel-image recover finishes it)");
        return IMAGE_PENDING;
    case elabel_publish_result::not_stored:
        break;
    }
    image_error("publish: %s: %s: nothing published", dir != nullptr ? dir : "(none)",
                std::strerror(errno));
    return IMAGE_USAGE;
}
