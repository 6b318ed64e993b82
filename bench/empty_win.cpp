// The smallest GUI program: the floor of a process start under the same Wine.
int main() { return 0; }
