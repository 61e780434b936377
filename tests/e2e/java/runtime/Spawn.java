// Starts a second VM through ProcessBuilder: the java program of its own
// runtime, on its own class path. The child prints its runtime and ends
// with 3; the parent ends with the child's status + 4.
public class Spawn {
    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals("child")) {
            System.out.println("child runs on " + System.getProperty("java.home"));
            System.exit(3);
        }
        String java = System.getProperty("java.home") + "/bin/java";
        Process child = new ProcessBuilder(java, "-cp", System.getProperty("java.class.path"), "Spawn", "child")
                .inheritIO().start();
        int status = child.waitFor();
        System.out.println("child ended with " + status);
        System.exit(status + 4);
    }
}
