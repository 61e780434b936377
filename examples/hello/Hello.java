package example;

// A small application to pack: it greets and lists its arguments.
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello from a packaged Java application");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  argument " + i + ": " + args[i]);
        }
    }
}
