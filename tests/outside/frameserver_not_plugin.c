/* A shared object that is no frameserver plug-in: it lacks the export. */
int frameserver_not_a_plugin(void) {
  return 1;
}
