#include "image_tool.h"

int main(int argc, char *argv[])
{
    return image_main(argc, argv);
}
