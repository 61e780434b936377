// A boot class whose boot method has another signature than the launcher calls.
public class glimvaneboot {
    public static void boot(String[] args) {
        System.out.println("never called");
    }
}
