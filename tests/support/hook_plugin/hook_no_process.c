/* A broken plug-in: Configure without Process. */
int Configure(void** context, int argc, char* argv[]) {
    (void)context;
    (void)argc;
    (void)argv;
    return 0;
}
