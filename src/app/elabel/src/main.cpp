#include "elabel_cli.h"

int main(int argc, char *argv[])
{
    return elabel_main(argc, argv);
}
