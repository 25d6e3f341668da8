#include "app/application.h"

int main(int argc, char** argv) {
  return app::KestrevaneMain(argc, argv);
}
