// Process entry of kelvor (placeholder until the front end lands).
int main() {
    return 0;
}
