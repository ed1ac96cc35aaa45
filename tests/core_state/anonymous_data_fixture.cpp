// Writable data in an anonymous namespace, which the writable-data check
// must find like any other namespace-scope data.
namespace lumora {
namespace {
int fixtureCounter = 0;
}  // namespace

int BumpFixtureCounter() { return ++fixtureCounter; }
}  // namespace lumora
