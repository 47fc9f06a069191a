/* A program outside this project that uses the installed label store: it stores
 * a text in its longest item, writes the label back, loads it again from the EEPROM
 * and prints what it reads. Built once through pkg-config and once through
 * find_package(elabel). */
#include <elabel.h>

#include <stdio.h>
#include <string.h>

static int failed(const char *call, int32_t ret)
{
    fprintf(stderr, "%s returned %d\n", call, (int)ret);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s TEXT\n", argv[0]);
        return 2;
    }
    const char *text = argv[1];
    const elabel_item_desc *item = &elabel_item_table[0];
    for (int i = 1; i < ELABEL_ITEM_NUM; ++i) {
        if (elabel_item_table[i].max_len > item->max_len) {
            item = &elabel_item_table[i];
        }
    }
    const uint8_t id = item->id;
    int32_t ret = driver_elabel_init();
    if (ret == -1) {
        /* A device without a label: the first load stored an empty one; load that. */
        ret = driver_elabel_init();
    }
    if (ret != 0) {
        return failed("driver_elabel_init", ret);
    }
    ret = driver_elabel_set_data(id, (const uint8_t *)text, 0, (int32_t)strlen(text));
    if (ret != 0) {
        return failed("driver_elabel_set_data", ret);
    }
    ret = driver_elabel_update();
    if (ret != 0) {
        return failed("driver_elabel_update", ret);
    }
    driver_elabel_release();

    uint8_t out[256];
    uint16_t len = 0;
    ret = driver_elabel_init();
    if (ret == 0) {
        ret = driver_elabel_get_data(id, out, sizeof out, &len);
    }
    driver_elabel_release();
    if (ret != 0) {
        return failed("reading the item back", ret);
    }
    printf("item %u: %.*s\n", id, (int)len, (const char *)out);
    return 0;
}
