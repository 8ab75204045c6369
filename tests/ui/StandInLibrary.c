/* Something for the embedding tests to carry: a real shared library with known bytes. */
int wirelog_standin_answer(void) {
    return 42;
}
